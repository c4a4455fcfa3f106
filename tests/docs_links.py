#!/usr/bin/env python3
"""Checks the user's manual: README.md and the pages under docs/. Every relative link and picture
must name a file that exists, every #anchor a heading of the page it points into (spelled as
the Markdown renderers spell them), and no page may pass the length a reader takes in one go.
The read-me in the download must name only pages that exist.

usage: docs_links.py SOURCE_DIR
"""
import os
import re
import sys

MAX_LINES = 250  # a page a reader finishes; a longer topic wants a page of its own
LINK = re.compile(r'!?\[[^\]]*\]\(([^)\s]+)\)')


def prose(text):
    """The text without code: fenced or indented blocks and inline code never hold links."""
    kept, fenced = [], False
    for line in text.split('\n'):
        if line.startswith('```'):
            fenced = not fenced
        elif not fenced and not line.startswith('    '):
            kept.append(re.sub(r'`[^`]*`', '', line))
    return '\n'.join(kept)


def anchors(text):
    """The anchors of a page's headings: lower case, punctuation dropped, spaces as hyphens,
    a repeated one numbered from -1."""
    seen, found = {}, set()
    for line in prose(text).split('\n'):
        heading = re.match(r'#{1,6} +(.*?) *#* *$', line)
        if not heading:
            continue
        slug = re.sub(r'[^\w\- ]', '', heading.group(1).lower()).replace(' ', '-')
        found.add(slug + ('-%d' % seen[slug] if slug in seen else ''))
        seen[slug] = seen.get(slug, 0) + 1
    return found


def main():
    source = os.path.abspath(sys.argv[1])
    pages = ['README.md'] + sorted('docs/' + f for f in os.listdir(os.path.join(source, 'docs'))
                                   if f.endswith('.md'))
    texts = {}
    for page in pages:
        with open(os.path.join(source, page), encoding='utf-8') as f:
            texts[page] = f.read()
    problems = []
    links = 0
    for page, text in texts.items():
        count = text.count('\n')
        if count > MAX_LINES:
            problems.append('%s: %d lines, more than %d' % (page, count, MAX_LINES))
        for target in LINK.findall(prose(text)):
            if re.match(r'[a-z]+:', target):
                continue  # a web address: not checked here, the tests run offline
            links += 1
            path, _, anchor = target.partition('#')
            linked = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            if not os.path.exists(os.path.join(source, linked)):
                problems.append('%s: %s: no such file' % (page, target))
            elif anchor and (linked not in texts or anchor not in anchors(texts[linked])):
                problems.append('%s: %s: no such heading in %s' % (page, target, linked))
    with open(os.path.join(source, 'tools', 'package_readme.txt'), encoding='ascii') as f:
        for page in re.findall(r'docs/\w+\.md', f.read()):
            links += 1
            if page not in texts:
                problems.append('tools/package_readme.txt: %s: no such page' % page)
    for p in problems:
        print(p)
    print('%d pages, %d links: %s' % (len(pages), links, 'all resolve' if not problems else
                                      '%d problems' % len(problems)))
    return 1 if problems else 0


sys.exit(main())
