#include "desktop/KeySequenceFilter.h"
#include "desktop/TemplateDialog.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

DialogTemplate windowTemplate() {
    return DialogTemplate{.id = 1,
                          .caption = "Keys",
                          .width = 120,
                          .height = 40,
                          .controls = {{10, ControlKind::Edit, "", 5, 5, 50, 14},
                                       {11, ControlKind::PushButton, "Mac", 60, 5, 40, 14}}};
}

struct KeyWindow {
    TemplateDialog dialog{windowTemplate()};
    KeySequenceFilter filter{&dialog, {Qt::Key_Q, Qt::Key_J}};
    QSignalSpy spy{&filter, &KeySequenceFilter::matched};
    QWidget* edit() { return dialog.item(10); }
    QWidget* button() { return dialog.item(11); }
};

} // namespace

TEST(KeySequenceFilter, JBeforeAnyQDoesNothing) {
    KeyWindow w;
    QTest::keyClick(w.edit(), Qt::Key_J);
    QTest::keyClick(w.button(), Qt::Key_J);
    EXPECT_EQ(w.spy.count(), 0);
    EXPECT_EQ(w.filter.progress(), 0u);
}

TEST(KeySequenceFilter, QThenOtherKeysThenJMatchesInAnyControl) {
    KeyWindow w;
    QTest::keyClick(w.edit(), Qt::Key_Q);
    QTest::keyClicks(w.edit(), QStringLiteral("xy7"));
    QTest::keyClick(w.button(), Qt::Key_Tab);
    EXPECT_EQ(w.spy.count(), 0);
    QTest::keyClick(w.button(), Qt::Key_J, Qt::ShiftModifier);
    EXPECT_EQ(w.spy.count(), 1);
    // The arming is never undone: each later J matches again.
    QTest::keyClick(&w.dialog, Qt::Key_J);
    EXPECT_EQ(w.spy.count(), 2);
    // The keys reached the edit box unchanged.
    EXPECT_EQ(static_cast<QLineEdit*>(w.edit())->text(), QStringLiteral("qxy7"));
}

TEST(KeySequenceFilter, KeyTravellingFromAControlToTheWindowCountsOnce) {
    TemplateDialog dialog(windowTemplate());
    KeySequenceFilter filter(&dialog, {Qt::Key_Q, Qt::Key_Q, Qt::Key_J});
    QSignalSpy spy(&filter, &KeySequenceFilter::matched);
    // A push button ignores letters, so the same press goes on to the dialog.
    QTest::keyClick(dialog.item(11), Qt::Key_Q);
    EXPECT_EQ(filter.progress(), 1u);
    QTest::keyClick(dialog.item(11), Qt::Key_J);
    EXPECT_EQ(spy.count(), 0);
    QTest::keyClick(dialog.item(11), Qt::Key_Q);
    QTest::keyClick(dialog.item(11), Qt::Key_J);
    EXPECT_EQ(spy.count(), 1);
}

TEST(KeySequenceFilter, KeysInOtherWindowsDoNotCount) {
    KeyWindow w;
    TemplateDialog other(windowTemplate());
    TemplateDialog child(windowTemplate(), &w.dialog); // a sub-dialog is a window of its own
    QTest::keyClick(other.item(10), Qt::Key_Q);
    QTest::keyClick(child.item(10), Qt::Key_Q);
    QTest::keyClick(w.edit(), Qt::Key_J);
    EXPECT_EQ(w.spy.count(), 0);
}
