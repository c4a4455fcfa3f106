// Walks the little-endian words of .res files and extended dialog templates. Every read is
// bounds-checked: a template that runs past its resource is refused, not read beyond.
#include "win32_shim/shim_dialog_template.h"

namespace {

struct reader {
    const uint8_t *bytes;
    size_t size;
    size_t at;
    bool ok;

    bool need(size_t n)
    {
        if (!ok || at > size || size - at < n) ok = false;
        return ok;
    }
    uint16_t u16()
    {
        if (!need(2)) return 0;
        uint16_t v = static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
        at += 2;
        return v;
    }
    uint32_t u32()
    {
        uint32_t low = u16();
        return low | static_cast<uint32_t>(u16()) << 16;
    }
    uint8_t u8()
    {
        if (!need(1)) return 0;
        return bytes[at++];
    }
    void align4() { at = (at + 3) & ~static_cast<size_t>(3); }
    // A zero-terminated UTF-16 text, narrowed (the templates here are ASCII).
    std::string text()
    {
        std::string s;
        for (;;) {
            uint16_t c = u16();
            if (!ok || c == 0) return s;
            s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
    }
    // sz_Or_Ord: 0 for none, 0xFFFF and an ordinal, or a text.
    std::string text_or_ordinal(uint16_t *ordinal)
    {
        if (ordinal) *ordinal = 0;
        if (!need(2)) return std::string();
        uint16_t first = static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
        if (first == 0) {
            at += 2;
            return std::string();
        }
        if (first == 0xFFFF) {
            at += 2;
            uint16_t value = u16();
            if (ordinal) *ordinal = value;
            return "#" + std::to_string(value);
        }
        return text();
    }
};

} // namespace

const char *dialog_class_name(uint16_t ordinal)
{
    switch (ordinal) {
    case 0x80: return "Button";
    case 0x81: return "Edit";
    case 0x82: return "Static";
    case 0x83: return "ListBox";
    case 0x84: return "ScrollBar";
    case 0x85: return "ComboBox";
    }
    return "";
}

bool parse_dialog_template(const uint8_t *bytes, size_t size, dialog_template *out)
{
    reader r{bytes, size, 0, true};
    if (r.u16() != 1 || r.u16() != 0xFFFF) return false; // dlgVer 1, signature: extended
    dialog_template t;
    t.help_id = r.u32();
    t.ex_style = r.u32();
    t.style = r.u32();
    uint16_t count = r.u16();
    t.x = static_cast<int16_t>(r.u16());
    t.y = static_cast<int16_t>(r.u16());
    t.cx = static_cast<int16_t>(r.u16());
    t.cy = static_cast<int16_t>(r.u16());
    t.menu = r.text_or_ordinal(nullptr);
    t.window_class = r.text_or_ordinal(nullptr);
    t.title = r.text();
    t.has_font = (t.style & 0x48) != 0; // DS_SETFONT or DS_SHELLFONT
    t.point_size = t.weight = 0;
    t.italic = t.charset = 0;
    if (t.has_font) {
        t.point_size = r.u16();
        t.weight = r.u16();
        t.italic = r.u8();
        t.charset = r.u8();
        t.typeface = r.text();
    }
    for (uint16_t i = 0; i < count && r.ok; i++) {
        r.align4();
        dialog_item_template item;
        item.help_id = r.u32();
        item.ex_style = r.u32();
        item.style = r.u32();
        item.x = static_cast<int16_t>(r.u16());
        item.y = static_cast<int16_t>(r.u16());
        item.cx = static_cast<int16_t>(r.u16());
        item.cy = static_cast<int16_t>(r.u16());
        item.id = r.u32();
        item.class_name = r.text_or_ordinal(&item.class_ordinal);
        if (item.class_ordinal) item.class_name = dialog_class_name(item.class_ordinal);
        item.title = r.text_or_ordinal(nullptr);
        uint16_t extra = r.u16();
        if (extra && r.need(extra)) {
            item.creation_data.assign(bytes + r.at, bytes + r.at + extra);
            r.at += extra;
        }
        t.items.push_back(item);
    }
    if (!r.ok) return false;
    *out = t;
    return true;
}

bool find_res_resource(const uint8_t *res, size_t res_size, uint16_t type, uint16_t id, const uint8_t **data,
                       size_t *data_size, uint16_t *language)
{
    reader r{res, res_size, 0, true};
    while (r.ok && r.at < res_size) {
        size_t start = r.at;
        uint32_t body_bytes = r.u32();
        uint32_t header_bytes = r.u32();
        uint16_t type_ordinal, id_ordinal;
        r.text_or_ordinal(&type_ordinal);
        r.text_or_ordinal(&id_ordinal);
        r.align4();
        r.u32(); // DataVersion
        r.u16(); // MemoryFlags
        uint16_t lang = r.u16();
        if (!r.ok || header_bytes < 32 || res_size - start < header_bytes) return false;
        size_t body = start + header_bytes;
        if (res_size - body < body_bytes) return false;
        if (type_ordinal == type && id_ordinal == id) {
            *data = res + body;
            *data_size = body_bytes;
            if (language) *language = lang;
            return true;
        }
        r.at = (body + body_bytes + 3) & ~static_cast<size_t>(3);
    }
    return false;
}
