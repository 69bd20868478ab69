#include "platform/controls_model.h"

#include <algorithm>
#include <stdexcept>

namespace vrk::platform {

namespace {

unsigned char fold(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

bool is_list(const Control& c) {
    return c.kind == ControlKind::drop_down_list || c.kind == ControlKind::list_box;
}

}  // namespace

int compare_list_text(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int d = int{fold(a[i])} - int{fold(b[i])};
        if (d != 0) return d;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool list_text_starts_with(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           compare_list_text(text.substr(0, prefix.size()), prefix) == 0;
}

void ControlsModel::add_control(Control control) {
    if (find(control.id) != nullptr) throw std::logic_error("duplicate control id");
    control.revision = ++revision_;
    controls_.push_back(std::move(control));
}

const Control* ControlsModel::find(int id) const {
    for (const auto& c : controls_)
        if (c.id == id) return &c;
    return nullptr;
}

Control* ControlsModel::find_mutable(int id) {
    for (auto& c : controls_)
        if (c.id == id) return &c;
    return nullptr;
}

Control& ControlsModel::get(int id) {
    Control* c = find_mutable(id);
    if (c == nullptr) throw std::out_of_range("no control with id " + std::to_string(id));
    return *c;
}

const Control& ControlsModel::get(int id) const {
    const Control* c = find(id);
    if (c == nullptr) throw std::out_of_range("no control with id " + std::to_string(id));
    return *c;
}

void ControlsModel::touch(Control& control) {
    control.revision = ++revision_;
}

void ControlsModel::raise(int id, Notification notification) {
    if (sink_) sink_(id, notification);
}

void ControlsModel::set_text(int id, std::string_view text) {
    Control& c = get(id);
    c.text.assign(text);
    if (c.kind == ControlKind::edit) {
        // The platform's edit box puts the caret at the start and selects nothing.
        c.edit_sel_start = c.edit_sel_end = 0;
    }
    touch(c);
    if (c.kind == ControlKind::edit) raise(id, Notification::edit_change);
}

std::string ControlsModel::text(int id) const {
    const Control& c = get(id);
    if (is_list(c)) {
        if (c.selection < 0 || c.selection >= static_cast<int>(c.items.size())) return {};
        return c.items[static_cast<std::size_t>(c.selection)].text;
    }
    return c.text;
}

void ControlsModel::enable(int id, bool enabled) {
    Control& c = get(id);
    if (c.enabled == enabled) return;
    c.enabled = enabled;
    touch(c);
}

bool ControlsModel::is_enabled(int id) const {
    return get(id).enabled;
}

int ControlsModel::add_item(int id, std::string text, std::uint32_t data) {
    Control& c = get(id);
    std::size_t at = c.items.size();
    if (c.sorted) {
        // After every item that sorts before or equal to it, as the platform's sorted lists do.
        const auto pos = std::upper_bound(c.items.begin(), c.items.end(), text,
                                          [](const std::string& t, const ListItem& item) {
                                              return compare_list_text(t, item.text) < 0;
                                          });
        at = static_cast<std::size_t>(pos - c.items.begin());
    }
    c.items.insert(c.items.begin() + static_cast<std::ptrdiff_t>(at),
                   ListItem{std::move(text), data});
    if (c.selection >= static_cast<int>(at)) ++c.selection;
    touch(c);
    return static_cast<int>(at);
}

void ControlsModel::set_item_data(int id, int index, std::uint32_t data) {
    Control& c = get(id);
    if (index < 0 || index >= static_cast<int>(c.items.size())) return;
    c.items[static_cast<std::size_t>(index)].data = data;
    touch(c);
}

std::uint32_t ControlsModel::item_data(int id, int index) const {
    const Control& c = get(id);
    if (index < 0 || index >= static_cast<int>(c.items.size())) return 0xFFFFFFFFu;
    return c.items[static_cast<std::size_t>(index)].data;
}

std::string ControlsModel::item_text(int id, int index) const {
    const Control& c = get(id);
    if (index < 0 || index >= static_cast<int>(c.items.size())) return {};
    return c.items[static_cast<std::size_t>(index)].text;
}

int ControlsModel::item_count(int id) const {
    return static_cast<int>(get(id).items.size());
}

void ControlsModel::clear_items(int id) {
    Control& c = get(id);
    c.items.clear();
    c.selection = -1;
    touch(c);
}

void ControlsModel::set_selection(int id, int index) {
    Control& c = get(id);
    if (index < 0 || index >= static_cast<int>(c.items.size())) index = -1;
    if (c.selection == index) return;
    c.selection = index;
    touch(c);
}

int ControlsModel::selection(int id) const {
    return get(id).selection;
}

int ControlsModel::select_by_text(int id, std::string_view prefix) {
    Control& c = get(id);
    for (std::size_t i = 0; i < c.items.size(); ++i) {
        if (list_text_starts_with(c.items[i].text, prefix)) {
            if (c.selection != static_cast<int>(i)) {
                c.selection = static_cast<int>(i);
                touch(c);
            }
            return static_cast<int>(i);
        }
    }
    return -1;
}

void ControlsModel::set_text_limit(int id, std::size_t limit) {
    Control& c = get(id);
    c.text_limit = limit;
    touch(c);
}

void ControlsModel::select_edit_text(int id, int start, int end) {
    Control& c = get(id);
    const int length = static_cast<int>(c.text.size());
    if (end < 0 || end > length) end = length;
    start = std::clamp(start, 0, end);
    c.edit_sel_start = start;
    c.edit_sel_end = end;
    touch(c);
}

void ControlsModel::reserve_text(int id, std::size_t size) {
    get(id).text.reserve(size);
}

void ControlsModel::show(int id, bool visible) {
    Control& c = get(id);
    if (c.visible == visible) return;
    c.visible = visible;
    touch(c);
}

bool ControlsModel::is_visible(int id) const {
    return get(id).visible;
}

void ControlsModel::set_progress(int id, std::uint32_t position, std::uint32_t range) {
    Control& c = get(id);
    position = std::min(position, range);
    if (c.position == position && c.range == range) return;
    c.position = position;
    c.range = range;
    touch(c);
}

void ControlsModel::set_checked(int id, bool checked) {
    Control& c = get(id);
    if (c.checked == checked) return;
    c.checked = checked;
    touch(c);
}

bool ControlsModel::is_checked(int id) const {
    return get(id).checked;
}

void ControlsModel::set_focus(int id) {
    if (focus_ == id) return;
    focus_ = id;
    ++revision_;
}

void ControlsModel::end_dialog(int result) {
    ended_ = true;
    result_ = result;
    ++revision_;
}

void ControlsModel::user_type_text(int id, std::string_view text) {
    Control& c = get(id);
    if (!c.enabled) return;
    std::string typed(text);
    if (c.text_limit != 0 && typed.size() > c.text_limit) typed.resize(c.text_limit);
    if (c.uppercase) {
        for (char& ch : typed)
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    if (typed == c.text) return;  // the platform raises no change when nothing changed
    c.text = std::move(typed);
    c.edit_sel_start = c.edit_sel_end = static_cast<int>(c.text.size());
    touch(c);
    raise(id, Notification::edit_change);
}

void ControlsModel::user_select(int id, int index) {
    Control& c = get(id);
    if (!c.enabled || index < 0 || index >= static_cast<int>(c.items.size())) return;
    if (c.selection != index) {
        c.selection = index;
        touch(c);
    }
    raise(id, Notification::selection_change);
}

void ControlsModel::user_double_click(int id, int index) {
    Control& c = get(id);
    if (!c.enabled || index < 0 || index >= static_cast<int>(c.items.size())) return;
    user_select(id, index);
    raise(id, Notification::double_clicked);
}

void ControlsModel::user_click(int id) {
    Control& c = get(id);
    if (!c.enabled) return;
    if (c.kind == ControlKind::check_box) {
        // The box changes before its command, so the window reads the new state.
        c.checked = !c.checked;
        touch(c);
    }
    raise(id, Notification::clicked);
}

}  // namespace vrk::platform
