#pragma once

#include "app/drivetable.h"

#include <cstdint>
#include <functional>
#include <string>

namespace velo
{

// The main window's display fields that the program writes and reads back, by control
// name. Label13 shows the selected drive, Label19 holds its letter alone, Label2 to
// Label14 the geometry, Label20 the scan's total and Text1 the save folder. Form2 looks
// its controls up in this order.
enum class Field {
    Label2,
    Label3,
    Label4,
    Label10,
    Label11,
    Label12,
    Label13,
    Label14,
    Label19,
    Label20,
    Text1,
};

// The controls that a scan switches between idle and scanning: the four buttons and the
// progress panel, in the order Form2 looks them up.
enum class Control { Command1, Command2, Command3, Command4, Picture1 };

// What the program's logic needs of the main window, and nothing more: the texts of its
// fields, the state of its controls, the drive list and the pass counter, and the
// toolkit's event loop. Texts are UTF-8.
class WindowFields
{
public:
    virtual ~WindowFields() = default;

    virtual std::string text(Field field) const = 0;
    virtual void setText(Field field, const std::string& text) = 0;
    virtual void setControlEnabled(Control control, bool enabled) = 0;
    virtual void setControlVisible(Control control, bool visible) = 0;

    virtual void addDriveRow(const DriveRow& row) = 0;   // a row at the end of ListView1
    virtual void focusDriveList() = 0;                   // ListView1 takes the input focus
    virtual void showPass(std::uint64_t passNumber) = 0; // Label17, once per pass

    // Lets the window handle what is waiting (clicks, repaints), then returns. Called once
    // per pass of a scan: what the program posted runs at every call, the system's input
    // at least every few milliseconds.
    virtual void runPendingEvents() = 0;
    // Runs task once the event being handled now has been handled to its end.
    virtual void runLater(std::function<void()> task) = 0;
    // The program's one message box; returns once the user has closed it.
    virtual void showMessage(const std::string& text) = 0;
};

} // namespace velo
