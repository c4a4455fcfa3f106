// Reads dialog templates as the resource compiler writes them: a resource out of a compiled
// resource file (.res) and the extended dialog template inside it. The native stand-in makes
// its dialogs from these; the Windows tests read the DLL's template with the same code. It
// depends on nothing of the platform, so both builds compile it.
#ifndef TOLLVANE_SHIM_DIALOG_TEMPLATE_H
#define TOLLVANE_SHIM_DIALOG_TEMPLATE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

struct dialog_item_template {
    uint32_t help_id;
    uint32_t ex_style;
    uint32_t style;
    int16_t x, y, cx, cy; // dialog units
    uint32_t id;
    uint16_t class_ordinal; // 0x80 button .. 0x85 combo box; 0 when the class is named
    std::string class_name; // the name given, or the standard class of the ordinal ("Button")
    std::string title;      // text titles only (narrowed); an ordinal title gives "#n"
    std::vector<uint8_t> creation_data;
};

struct dialog_template {
    uint32_t help_id;
    uint32_t ex_style;
    uint32_t style;
    int16_t x, y, cx, cy;
    std::string menu;         // empty: none; ordinals as "#n"
    std::string window_class; // empty: the dialog class
    std::string title;
    bool has_font;            // DS_SETFONT: the four fields below were in the template
    uint16_t point_size;
    uint16_t weight;
    uint8_t italic;
    uint8_t charset;
    std::string typeface;
    std::vector<dialog_item_template> items;
};

// Parses an extended dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items). False
// for an old-style template or one that runs past size.
bool parse_dialog_template(const uint8_t *bytes, size_t size, dialog_template *out);

// Finds the resource of numeric type and id in a .res image; false when there is none.
bool find_res_resource(const uint8_t *res, size_t res_size, uint16_t type, uint16_t id, const uint8_t **data,
                       size_t *data_size, uint16_t *language);

// The standard window class an item's class ordinal stands for, or "" for another ordinal.
const char *dialog_class_name(uint16_t ordinal);

#endif
