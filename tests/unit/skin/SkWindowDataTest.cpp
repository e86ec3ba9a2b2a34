#include "skin/SkWindowData.h"

#include <gtest/gtest.h>

namespace {

zv::SkStoredObject Sample()
{
    zv::SkStoredObject list { "List", "TSkBitmapList", {}, {} };
    list.Children.push_back(
        { {}, "TSkBitmapListItem", { { "Internal", QByteArray("\x08\x01\x02", 3) } }, {} });
    zv::SkStoredObject root { "Frm", "TFrm", { { "Empty", {} } }, {} };
    root.Children.push_back(list);
    root.Children.push_back({ "B1", "TSkMMButton", { { "A", "one" }, { "A", "two" } }, {} });
    return root;
}

} // namespace

TEST(SkWindowData, RoundTripKeepsNamesValuesAndOrder)
{
    const zv::SkStoredObject back = zv::ReadWindowData(zv::WriteWindowData(Sample()));
    EXPECT_EQ(back.Name, "Frm");
    ASSERT_EQ(back.Children.size(), 2u);
    const zv::SkStoredObject& list = back.RequireChild("List");
    ASSERT_EQ(list.Children.size(), 1u);
    EXPECT_TRUE(list.Children[0].Name.isEmpty());
    EXPECT_EQ(*list.Children[0].Value("Internal"), QByteArray("\x08\x01\x02", 3));
    // A later value of the same name overrides the earlier one, as loading does.
    EXPECT_EQ(*back.Child("B1")->Value("A"), "two");
    EXPECT_TRUE(back.Value("Empty")->isEmpty());
    EXPECT_EQ(back.Value("Missing"), nullptr);
    EXPECT_THROW(back.RequireChild("Nope"), ESkWindowDataError);
}

TEST(SkWindowData, EveryTruncationIsAnErrorNotACrash)
{
    const QByteArray whole = zv::WriteWindowData(Sample());
    for (qsizetype n = 0; n < whole.size(); ++n)
        EXPECT_THROW(zv::ReadWindowData(whole.left(n)), ESkWindowDataError) << "length " << n;
}

TEST(SkWindowData, RefusesDamage)
{
    const QByteArray whole = zv::WriteWindowData(Sample());
    QByteArray badMagic = whole;
    badMagic[0] = 'X';
    QByteArray badVersion = whole;
    badVersion[4] = 2;
    // A value count far beyond the data must not be trusted for allocation.
    QByteArray hugeCount = zv::WriteWindowData({ "R", "C", {}, {} });
    hugeCount.replace(hugeCount.size() - 8, 4, QByteArray("\xff\xff\xff\x7f", 4));
    // Nesting beyond any window: each level a component with one child.
    zv::SkStoredObject deep { "d", "C", {}, {} };
    for (int i = 0; i < 40; ++i)
        deep = zv::SkStoredObject { "d", "C", {}, { deep } };
    for (const QByteArray& bytes :
        { badMagic, badVersion, whole + "x", hugeCount, zv::WriteWindowData(deep) })
        EXPECT_THROW(zv::ReadWindowData(bytes), ESkWindowDataError);
}

TEST(SkWindowData, NamesLongerThanALengthByteAreRefusedOnWrite)
{
    EXPECT_THROW(zv::WriteWindowData({ QByteArray(256, 'n'), "C", {}, {} }), ESkWindowDataError);
}

TEST(SkWindowData, MissingFileNamesThePath)
{
    try {
        zv::LoadWindowData("/nonexistent/Frm.dat");
        FAIL();
    } catch (const ESkWindowDataError& e) {
        EXPECT_TRUE(e.Message().contains("/nonexistent/Frm.dat"));
    }
}
