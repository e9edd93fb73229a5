// Tools that capture and read the screen, learn and find templates, and drive mouse and keyboard.
#include "catalogue/tool_table.h"

namespace korvane::catalogue {
namespace {

constexpr std::string_view kButtons[] = {"left", "right", "middle"};

constexpr ArgSpec kFindTextArgs[] = {
    {.name = "query",
     .type = kString,
     .description = "Text to find on screen (fuzzy, NFKC, whitespace-insensitive)",
     .required = true},
};

constexpr ArgSpec kFindLearnedArgs[] = {
    {.name = "name", .type = kString, .required = true},
};

constexpr ArgSpec kLearnArgs[] = {
    {.name = "name", .type = kString, .required = true}, {.name = "x", .type = kInteger, .required = true},
    {.name = "y", .type = kInteger, .required = true},   {.name = "w", .type = kInteger, .required = true},
    {.name = "h", .type = kInteger, .required = true},
};

constexpr ArgSpec kClickArgs[] = {
    {.name = "x", .type = kInteger, .required = true},
    {.name = "y", .type = kInteger, .required = true},
    {.name = "button", .type = kString, .choices = kButtons},
};

constexpr ArgSpec kPointArgs[] = {
    {.name = "x", .type = kInteger, .required = true},
    {.name = "y", .type = kInteger, .required = true},
};

constexpr ArgSpec kDragArgs[] = {
    {.name = "x1", .type = kInteger, .required = true},       {.name = "y1", .type = kInteger, .required = true},
    {.name = "x2", .type = kInteger, .required = true},       {.name = "y2", .type = kInteger, .required = true},
    {.name = "button", .type = kString, .choices = kButtons},
};

constexpr ArgSpec kTypeTextArgs[] = {
    {.name = "text", .type = kString, .required = true},
};

constexpr ArgSpec kKeyComboArgs[] = {
    {.name = "combo", .type = kString, .required = true},
};

constexpr ArgSpec kScrollArgs[] = {
    {.name = "x", .type = kInteger, .required = true},
    {.name = "y", .type = kInteger, .required = true},
    {.name = "dx", .type = kInteger, .required = true},
    {.name = "dy", .type = kInteger, .required = true},
};

constexpr ToolSpec kTools[] = {
    {.name = "screenshot",
     .description = "Capture the primary monitor and save a PNG. Returns {path,width,height,scale}. "
                    "width/height are physical pixels; divide pixel coordinates by `scale` to get click "
                    "coordinates."},
    {.name = "screen_ocr",
     .description = "Screenshot the primary monitor and OCR it (Apple Vision, ja+en). Returns "
                    "{image,width,height,scale,lines:[{text,conf,x,y,w,h}]} where x,y,w,h are physical "
                    "pixels."},
    {.name = "screen_find_text",
     .description = "Screenshot + OCR, then fuzzy-match `query` against on-screen text. Returns the best "
                    "match with click_x/click_y already scale-corrected (ready to pass to `click`).",
     .args = kFindTextArgs},
    {.name = "screen_find_learned",
     .description = "Screenshot, then locate a previously learned named template on screen via NCC template "
                    "matching. Returns click_x/click_y (scale-corrected) and match score.",
     .args = kFindLearnedArgs},
    {.name = "screen_learn",
     .description = "Screenshot, then crop the logical-point region (x,y,w,h) and save it as a named "
                    "template for later `screen_find_learned`. Coordinates are logical points (click "
                    "coordinate space).",
     .args = kLearnArgs},
    {.name = "list_learned",
     .description = "List all learned desktop templates (name, size, hit count, last matched position)."},
    {.name = "click",
     .description = "Move the mouse to (x,y) in logical points and click. button defaults to 'left'.",
     .args = kClickArgs},
    {.name = "double_click", .description = "Double-click at (x,y) in logical points.", .args = kPointArgs},
    {.name = "move_mouse",
     .description = "Move the mouse to (x,y) in logical points without clicking.",
     .args = kPointArgs},
    {.name = "drag",
     .description = "Press at (x1,y1), move to (x2,y2), release — a drag (also used for text selection). "
                    "Logical points. button defaults to 'left'.",
     .args = kDragArgs},
    {.name = "type_text",
     .description = "Type a string at the current focus via synthesized keystrokes.",
     .args = kTypeTextArgs},
    {.name = "key_combo",
     .description = "Press a keyboard shortcut like 'cmd+c' or 'ctrl+shift+t'. Modifiers: cmd/meta, ctrl, "
                    "shift, alt/option. Final key: a single char or a named key (enter, tab, esc, space, "
                    "backspace, delete, up/down/left/right).",
     .args = kKeyComboArgs},
    {.name = "scroll",
     .description = "Move to (x,y) and scroll by (dx,dy) wheel ticks. Logical points.",
     .args = kScrollArgs},
};

}  // namespace

std::span<const ToolSpec> desktop_tools() { return kTools; }

}  // namespace korvane::catalogue
