// The window's controls as data: the program's version of the platform's standard dialog
// controls. The unit's data lives only here (the value fields, the ID box, the list
// selections), so the model must behave like the controls it stands for:
//  - lists marked sorted insert by case-insensitive text order;
//  - select_by_text picks the first item, in list order, whose text begins with the given text
//    (case-insensitively) and leaves the selection alone when none does;
//  - a selection made by the program raises no command; one made by the user does;
//  - setting an edit box's text raises its edit-change command, exactly as typing does;
//  - typing into an edit box is cut to its limit and, for an upper-case box, turned to
//    upper case;
//  - a check box is toggled by the user (a click, or Space while it has the focus: both arrive
//    as user_click), which raises its clicked command; the program's set_checked raises
//    nothing, as a check set by the program raises no command on the platform either.
// The Qt view draws the model and feeds user actions back through the user_* calls; tests
// do the same without a display.
//
// Threads: a model belongs to one session and is used only on that session's thread (the
// window's views draw it on the thread that ticks the session). It has no lock, and the
// commands it raises run the session's code at once, inside the call.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vrk::platform {

enum class ControlKind {
    label,        // static text with a mnemonic, no id of its own
    static_text,  // value field
    status_text,  // sunken static text; "&" is shown literally
    edit,         // single-line edit box
    push_button,
    default_push_button,
    drop_down_list,  // combo box whose edit part cannot be typed into
    list_box,
    progress_bar,  // a bar filled to position / range
    check_box,     // a button with a checked state that the user's click toggles
};

// What a control tells its window, after the platform's standard notification codes.
enum class Notification {
    clicked,           // a push button was pressed, or a check box toggled by the user
    double_clicked,    // a list box item was double-clicked
    selection_change,  // the user changed a list's selection
    edit_change,       // an edit box's text changed (by the user or by the program)
};

struct ListItem {
    std::string text;
    std::uint32_t data = 0;
};

struct Control {
    int id = 0;
    ControlKind kind = ControlKind::static_text;
    std::string text;  // caption, value text or edit text; unused for lists
    bool enabled = true;
    bool sorted = false;         // lists only
    bool uppercase = false;      // edit only
    std::size_t text_limit = 0;  // edit only; 0 = no limit
    std::vector<ListItem> items;
    int selection = -1;  // lists: selected index, -1 none
    bool visible = true;
    std::uint32_t position = 0;  // progress bar: how far, of range
    std::uint32_t range = 0;
    bool checked = false;    // check box only
    int edit_sel_start = 0;  // edit: selected character range [start, end)
    int edit_sel_end = 0;
    std::uint64_t revision = 0;  // bumped on every change, for redrawing only what changed
};

class ControlsModel {
  public:
    using CommandSink = std::function<void(int id, Notification notification)>;

    // Adds a control; ids must be unique.
    void add_control(Control control);
    // Where commands go (the window's command routing). May be empty.
    void set_command_sink(CommandSink sink) { sink_ = std::move(sink); }

    [[nodiscard]] bool has(int id) const { return find(id) != nullptr; }
    [[nodiscard]] const Control* find(int id) const;
    [[nodiscard]] const std::vector<Control>& controls() const { return controls_; }

    // --- What the program does -------------------------------------------------------------
    // Sets a control's text. For an edit box it raises edit_change, as typing does.
    void set_text(int id, std::string_view text);
    // The control's text; for a list, the text of its selected item ("" when none).
    [[nodiscard]] std::string text(int id) const;
    void enable(int id, bool enabled);
    [[nodiscard]] bool is_enabled(int id) const;

    // Inserts an item (at its sorted place in a sorted list, else at the end); returns its index.
    int add_item(int id, std::string text, std::uint32_t data = 0);
    void set_item_data(int id, int index, std::uint32_t data);
    [[nodiscard]] std::uint32_t item_data(int id, int index) const;
    [[nodiscard]] std::string item_text(int id, int index) const;
    [[nodiscard]] int item_count(int id) const;
    void clear_items(int id);
    // Selects an item (-1: none) without raising a command. Out of range selects nothing.
    void set_selection(int id, int index);
    [[nodiscard]] int selection(int id) const;
    // Selects the first item whose text begins with prefix (case-insensitive) without raising a
    // command; returns its index, or -1 leaving the selection as it was.
    int select_by_text(int id, std::string_view prefix);

    void set_text_limit(int id, std::size_t limit);
    // Selects characters [start, end) of an edit box; end -1 means to the end of the text.
    void select_edit_text(int id, int start, int end);

    // Makes room for a text of `size` bytes, so that a text that changes often (the progress
    // line) costs no allocation when it grows.
    void reserve_text(int id, std::size_t size);
    // Shows or hides a control (a hidden one is neither drawn nor used).
    void show(int id, bool visible);
    [[nodiscard]] bool is_visible(int id) const;
    // A progress bar's position of range (position is kept at most range).
    void set_progress(int id, std::uint32_t position, std::uint32_t range);
    // A check box's state, set by the program: raises no command.
    void set_checked(int id, bool checked);
    [[nodiscard]] bool is_checked(int id) const;

    void set_focus(int id);
    [[nodiscard]] int focus() const { return focus_; }

    // Ends the dialog (the window closes once the current command or tick returns).
    void end_dialog(int result);
    [[nodiscard]] bool ended() const { return ended_; }
    [[nodiscard]] int result() const { return result_; }

    // --- What the user does (each raises its command, as the platform's controls do) -------
    // Replaces the edit box's text as if typed: cut to the limit, upper-cased for an upper-case
    // box. Ignored for a disabled control.
    void user_type_text(int id, std::string_view text);
    // Picks a list item. Raises selection_change when enabled and the index is valid.
    void user_select(int id, int index);
    // Double-clicks a list item: selects it (with selection_change) and raises double_clicked.
    void user_double_click(int id, int index);
    // Presses a push button, or toggles a check box (a click or Space on it), and raises
    // clicked. Ignored when disabled.
    void user_click(int id);
    // Moves the focus as the user does (by mouse or Tab); raises nothing.
    void user_focus(int id) { set_focus(id); }

    // Bumped on every change of any control, the focus or the end state.
    [[nodiscard]] std::uint64_t revision() const { return revision_; }

  private:
    Control* find_mutable(int id);
    Control& get(int id);
    const Control& get(int id) const;
    void touch(Control& control);
    void raise(int id, Notification notification);

    std::vector<Control> controls_;
    CommandSink sink_;
    int focus_ = 0;
    bool ended_ = false;
    int result_ = 0;
    std::uint64_t revision_ = 0;
};

// Case-insensitive comparison of two texts, in the order sorted lists use: ASCII letters
// folded, other bytes compared as unsigned values. Negative, zero or positive.
[[nodiscard]] int compare_list_text(std::string_view a, std::string_view b);
// True when text begins with prefix, compared as compare_list_text does.
[[nodiscard]] bool list_text_starts_with(std::string_view text, std::string_view prefix);

}  // namespace vrk::platform
