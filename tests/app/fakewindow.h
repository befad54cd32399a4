#pragma once

#include "app/windowfields.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velo::testing
{

// The main window's fields without widgets. Its controls start as the window creates
// them: everything enabled, the progress panel hidden, Label19 reading "Label19". Events
// that a test posts (a click on stop, on the drive list) wait until the logic lets
// pending events run, as in the real window; so do tasks the logic asks to run later.
struct FakeWindow : WindowFields {
    std::map<Field, std::string> texts{{Field::Label19, "Label19"}};
    std::map<Control, bool> enabled{{Control::Command1, true},
                                    {Control::Command2, true},
                                    {Control::Command3, true},
                                    {Control::Command4, true},
                                    {Control::Picture1, true}};
    std::map<Control, bool> visible{{Control::Command1, true},
                                    {Control::Command2, true},
                                    {Control::Command3, true},
                                    {Control::Command4, true},
                                    {Control::Picture1, false}};
    std::vector<DriveRow> rows;
    std::uint64_t pass = 0; // the number Label17 shows; 0 while it is empty
    std::uint64_t passesShown = 0;
    int driveListFocused = 0;
    std::vector<std::string> messages;
    std::deque<std::function<void()>> pending;

    void post(std::function<void()> event) { pending.push_back(std::move(event)); }

    bool idle() const
    {
        return !visible.at(Control::Picture1) && !enabled.at(Control::Command3) &&
               enabled.at(Control::Command1) && enabled.at(Control::Command2) &&
               enabled.at(Control::Command4);
    }
    bool scanningState() const
    {
        return visible.at(Control::Picture1) && enabled.at(Control::Command3) &&
               !enabled.at(Control::Command1) && !enabled.at(Control::Command2) &&
               !enabled.at(Control::Command4);
    }

    std::string text(Field field) const override
    {
        const auto it = texts.find(field);
        return it == texts.end() ? std::string() : it->second;
    }
    void setText(Field field, const std::string& text) override { texts[field] = text; }
    void setControlEnabled(Control control, bool on) override { enabled[control] = on; }
    void setControlVisible(Control control, bool on) override { visible[control] = on; }
    void addDriveRow(const DriveRow& row) override { rows.push_back(row); }
    void focusDriveList() override { ++driveListFocused; }
    void showPass(std::uint64_t passNumber) override
    {
        pass = passNumber;
        ++passesShown;
    }
    // What was waiting when the call began runs; what those events post waits for the
    // next call.
    void runPendingEvents() override
    {
        for (std::size_t n = pending.size(); n > 0 && !pending.empty(); --n) {
            auto event = std::move(pending.front());
            pending.pop_front();
            event();
        }
    }
    void runLater(std::function<void()> task) override { post(std::move(task)); }
    void showMessage(const std::string& text) override { messages.push_back(text); }
};

} // namespace velo::testing
