#include "ui/common_dialog.h"

#include "operations/operation_frame.h"

#include <gtest/gtest.h>

using varnook::ui::CommonDialog;

TEST(CommonDialogFilters, ListStringsBecomeQtFilters)
{
    const QStringList hp = CommonDialog::qtFilters(QString::fromUtf8(varnook::kHpFileTypes));
    ASSERT_EQ(hp.size(), 5);
    EXPECT_EQ(hp[0].toStdString(), "HP BASIC ASCII(*.asc) (*.asc)");
    EXPECT_EQ(hp[3].toStdString(), "HP LIF ASCII(*.lhp) (*.lhp)");
    EXPECT_EQ(hp[4].toStdString(), "すべてのファイル(*.*) (*)") << "*.* matches every file";
    const QStringList txt = CommonDialog::qtFilters(QString::fromUtf8(varnook::kTxtFileTypes));
    ASSERT_EQ(txt.size(), 2);
    EXPECT_EQ(txt[0].toStdString(), "txtファイル(*.txt) (*.txt)");
    EXPECT_TRUE(CommonDialog::qtFilters(QString()).isEmpty());
}
