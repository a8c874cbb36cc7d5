#include "desktop/TemplateDialog.h"
#include <gtest/gtest.h>
TEST(TemplateDialog, Builds) {
    desktop::TemplateDialog d(
        desktop::DialogTemplate{.id = 1, .caption = "x", .width = 10, .height = 10, .controls = {}});
    EXPECT_EQ(d.templateId(), 1);
}
