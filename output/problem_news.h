// The problems a file or a sheet has to tell the user, each once, in the order they arose,
// until the track output takes them. Kept in the record of whoever finds them.
#ifndef TOLLVANE_PROBLEM_NEWS_H
#define TOLLVANE_PROBLEM_NEWS_H

#include <stdint.h>
#include <string.h>
#include <windows.h>

// Room for every problem of one kind: there are fewer than this of any.
constexpr unsigned problem_news_max = 8;

struct problem_news {
    uint32_t found;                // a bit for each problem that arose, told or not
    BYTE waiting[problem_news_max]; // those not taken yet, in the order they arose
    BYTE waiting_count;
};

inline void news_clear(problem_news *news)
{
    news->found = 0;
    news->waiting_count = 0;
}

inline bool news_found(const problem_news *news, BYTE problem) { return news->found & (1u << problem); }

inline void news_note(problem_news *news, BYTE problem)
{
    if (news_found(news, problem)) return;
    news->found |= 1u << problem;
    news->waiting[news->waiting_count++] = problem;
}

inline bool news_take(problem_news *news, BYTE *problem)
{
    if (news->waiting_count == 0) return false;
    *problem = news->waiting[0];
    news->waiting_count--;
    memmove(news->waiting, news->waiting + 1, news->waiting_count);
    return true;
}

#endif
