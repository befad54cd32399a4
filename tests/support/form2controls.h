#pragma once

// The main window's controls, found by their names as a user's tests would see them.

#include "app/form2.h"
#include "app/passcounterlabel.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace velo::testing
{

struct Form2Controls {
    explicit Form2Controls(Form2& window) : window(window) {}

    template <typename Widget> Widget* find(const char* name) const
    {
        auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
        if (widget == nullptr)
            ADD_FAILURE() << "Form2 has no control " << name;
        return widget;
    }
    QLabel* label(const char* name) const { return find<QLabel>(name); }

    // A click on the drive list's row for this letter.
    void select(const QString& letter) const
    {
        const auto rows = ListView1->findItems(letter, Qt::MatchExactly, 0);
        ASSERT_EQ(rows.size(), 1) << letter.toStdString();
        emit ListView1->itemClicked(rows.front(), 0);
    }

    // Drive `letter` clicked and carved files going to `folder`, ready for the run button.
    void readyToScan(const QString& letter, const QString& folder = "/save/") const
    {
        select(letter);
        Text1->setText(folder);
    }

    Form2& window;
    QTreeWidget* ListView1 = find<QTreeWidget>("ListView1");
    QLineEdit* Text1 = find<QLineEdit>("Text1");
    QFrame* Picture1 = find<QFrame>("Picture1");
    PassCounterLabel* Label17 = find<PassCounterLabel>("Label17");
    QPushButton* Command1 = find<QPushButton>("Command1");
    QPushButton* Command2 = find<QPushButton>("Command2");
    QPushButton* Command3 = find<QPushButton>("Command3");
    QPushButton* Command4 = find<QPushButton>("Command4");
};

} // namespace velo::testing
