#include "platform/controls_model.h"

#include <gtest/gtest.h>

#include <vector>

namespace vrk::platform {
namespace {

struct Recorded {
    int id;
    Notification n;
    bool operator==(const Recorded&) const = default;
};

template <typename F>
Control make(int id, ControlKind kind, F&& adjust) {
    Control c;
    c.id = id;
    c.kind = kind;
    adjust(c);
    return c;
}

struct ModelFixture : ::testing::Test {
    ControlsModel model;
    std::vector<Recorded> commands;
    void SetUp() override {
        model.add_control(
            make(1, ControlKind::drop_down_list, [](Control& c) { c.sorted = true; }));
        model.add_control(make(2, ControlKind::edit, [](Control& c) {
            c.uppercase = true;
            c.text_limit = 8;
        }));
        model.add_control(make(3, ControlKind::push_button, [](Control& c) { c.text = "&Go"; }));
        model.add_control(make(4, ControlKind::list_box, [](Control&) {}));
        model.add_control(make(5, ControlKind::check_box, [](Control& c) { c.text = "&On"; }));
        model.set_command_sink([this](int id, Notification n) { commands.push_back({id, n}); });
    }
    std::vector<std::string> items(int id) {
        std::vector<std::string> out;
        for (int i = 0; i < model.item_count(id); ++i) out.push_back(model.item_text(id, i));
        return out;
    }
};

TEST_F(ModelFixture, SortedListsInsertCaseInsensitively) {
    for (const char* t : {"SMS-M1", "Phone @ 19200", "iDEN", " None", "Phone", "SMS", "Computer",
                          "ttyS3", "ttyS12"})
        model.add_item(1, t);
    EXPECT_EQ(items(1),
              (std::vector<std::string>{" None", "Computer", "iDEN", "Phone", "Phone @ 19200",
                                        "SMS", "SMS-M1", "ttyS12", "ttyS3"}));
    model.add_item(4, "b");
    model.add_item(4, "a");
    EXPECT_EQ(items(4), (std::vector<std::string>{"b", "a"}))
        << "unsorted lists keep insertion order";
}

TEST_F(ModelFixture, SelectByTextTakesFirstPrefixMatchAndKeepsSelectionOnMiss) {
    for (const char* t : {"TSIP 8N1", "SiRF", "TSIP", "Zodiac"}) model.add_item(1, t);
    struct Case {
        const char* prefix;
        int expected_index;
        const char* selected_text;
    };
    const Case cases[] = {
        {"TSIP", 1, "TSIP"},          // the shorter text sorts first
        {"tsip 8", 2, "TSIP 8N1"},    // case-insensitive
        {"Nothing", -1, "TSIP 8N1"},  // a miss leaves the selection alone
        {"s", 0, "SiRF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix);
        EXPECT_EQ(model.select_by_text(1, c.prefix), c.expected_index);
        EXPECT_EQ(model.text(1), c.selected_text);
    }
    EXPECT_TRUE(commands.empty()) << "program selections raise no command";
}

TEST_F(ModelFixture, UserActionsRaiseCommandsProgramActionsDoNot) {
    model.add_item(1, "x");
    model.set_selection(1, 0);
    model.set_text(3, "Stop");
    EXPECT_TRUE(commands.empty());

    model.user_select(1, 0);
    model.user_click(3);
    model.user_double_click(4, 0);  // no items: nothing
    EXPECT_EQ(commands, (std::vector<Recorded>{{1, Notification::selection_change},
                                               {3, Notification::clicked}}));

    commands.clear();
    model.enable(3, false);
    model.user_click(3);
    EXPECT_TRUE(commands.empty()) << "a disabled button cannot be pressed";
}

TEST_F(ModelFixture, ACheckBoxTogglesOnTheUsersClickAndSaysSoButNotOnTheProgramsChange) {
    enum class Act { program_checks, program_unchecks, user_clicks, disable, enable };
    struct Step {
        Act act;
        bool checked;  // afterwards
        bool command;  // a clicked command raised
        bool redrawn;  // the control's revision moved
    };
    const Step steps[] = {
        {Act::program_checks, true, false, true},
        {Act::program_checks, true, false, false},  // already checked: nothing to draw
        {Act::user_clicks, false, true, true},
        {Act::user_clicks, true, true, true},
        {Act::disable, true, false, true},
        {Act::user_clicks, true, false, false},  // a disabled box cannot be toggled
        {Act::program_unchecks, false, false, true},
        {Act::enable, false, false, true},
        {Act::user_clicks, true, true, true},
    };
    EXPECT_FALSE(model.is_checked(5)) << "a new box is unchecked";
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        const Step& step = steps[i];
        commands.clear();
        const auto before = model.find(5)->revision;
        switch (step.act) {
            case Act::program_checks:
                model.set_checked(5, true);
                break;
            case Act::program_unchecks:
                model.set_checked(5, false);
                break;
            case Act::user_clicks:
                model.user_click(5);
                break;
            case Act::disable:
                model.enable(5, false);
                break;
            case Act::enable:
                model.enable(5, true);
                break;
        }
        EXPECT_EQ(model.is_checked(5), step.checked);
        const std::vector<Recorded> raised = step.command
                                                 ? std::vector<Recorded>{{5, Notification::clicked}}
                                                 : std::vector<Recorded>{};
        EXPECT_EQ(commands, raised);
        EXPECT_EQ(model.find(5)->revision != before, step.redrawn);
    }
    EXPECT_EQ(model.text(5), "&On");
}

TEST_F(ModelFixture, ACheckBoxIsToggledBeforeItsCommandIsRaised) {
    // The window reads the box in its command handler: it must find the new state there.
    std::vector<bool> seen;
    model.set_command_sink([&](int id, Notification) { seen.push_back(model.is_checked(id)); });
    model.user_click(5);
    model.user_click(5);
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
}

TEST_F(ModelFixture, EditBoxTypingAndSettingText) {
    model.user_type_text(2, "abc123xyz9");
    EXPECT_EQ(model.text(2), "ABC123XY");
    model.set_text(2, "lower");  // the program's text is stored as given
    EXPECT_EQ(model.text(2), "lower");
    EXPECT_EQ(commands, (std::vector<Recorded>{{2, Notification::edit_change},
                                               {2, Notification::edit_change}}));
    model.select_edit_text(2, 0, -1);
    EXPECT_EQ(model.find(2)->edit_sel_end, 5);
}

TEST_F(ModelFixture, RevisionsTrackChangesForRedrawing) {
    const auto before = model.find(3)->revision;
    model.enable(3, true);  // no change
    EXPECT_EQ(model.find(3)->revision, before);
    model.enable(3, false);
    EXPECT_GT(model.find(3)->revision, before);
}

}  // namespace
}  // namespace vrk::platform
