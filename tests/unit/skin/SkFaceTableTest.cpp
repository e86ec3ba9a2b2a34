#include "skin/SkFaceTable.h"

#include <QtEndian>
#include <gtest/gtest.h>

namespace {

QByteArray Ints(std::initializer_list<qint32> values)
{
    QByteArray out;
    for (qint32 v : values) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    }
    return out;
}

zv::SkStoredObject Button(std::vector<zv::SkStoredValue> values)
{
    return { "B", "TSkMMButton", std::move(values), {} };
}

QString SourceFile(const char* relative)
{
    return QStringLiteral(ZOVEVA_SOURCE_ROOT "/") + relative;
}

} // namespace

TEST(SkStoredFaces, BConfigOfTheMainWindowReadsAsStored)
{
    const zv::SkStoredObject form = zv::LoadWindowData(SourceFile("resources/forms/Frm_ZoVeva.dat"));
    const zv::SkStoredObject& b = form.RequireChild("BConfig");
    const QByteArray* raw = b.Value("ButtonFaceIndicesNew2");
    ASSERT_NE(raw, nullptr);
    // Nine zero image indices, then the list indices of states 8 down to 0.
    EXPECT_EQ(*raw, Ints({ 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 3, 3, 3, 2, 2, 2, 2 }));
    EXPECT_EQ(*b.Value("ButtonFaceTransColNew"), Ints({ 0x00800000 }));

    TSkFaceTable table {};
    QRgb hit = qRgb(255, 255, 255);
    zv::ReadStoredFaces(b, table, hit);
    for (int s = 0; s < 9; ++s) {
        EXPECT_EQ(table[std::size_t(s)].ListIndex, s < 4 ? 2 : 3) << "state " << s;
        EXPECT_EQ(table[std::size_t(s)].ImageIndex, 0);
    }
    EXPECT_EQ(hit & 0xFFFFFF, qRgb(0, 0, 128) & 0xFFFFFF);
}

TEST(SkStoredFaces, WriteThenReadGivesTheSameTable)
{
    TSkFaceTable table {};
    for (int s = 0; s < 9; ++s)
        table[std::size_t(s)] = { s * 10 - 5, 100 + s };
    const std::vector<zv::SkStoredValue> values = zv::WriteStoredFaces(table, qRgb(1, 2, 3));
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].Name, "ButtonFaceIndicesNew2");
    EXPECT_EQ(values[1].Data, Ints({ 0x00030201 }));
    TSkFaceTable back {};
    QRgb hit = 0;
    zv::ReadStoredFaces(Button(values), back, hit);
    EXPECT_EQ(back, table);
    EXPECT_EQ(hit, qRgb(1, 2, 3));
}

TEST(SkStoredFaces, OlderFormsAreReadAndLeaveState8)
{
    TSkFaceTable start {};
    start[8] = { 77, 78 };
    const QByteArray pairs = Ints({ 1, 11, 2, 12, 3, 13, 4, 14, 5, 15, 6, 16, 7, 17, 8, 18 });
    const QByteArray lists = Ints({ 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17, 18 });
    for (const zv::SkStoredValue& v : { zv::SkStoredValue { "ButtonFaceIndices", pairs },
             zv::SkStoredValue { "ButtonFaceIndicesNew", lists } }) {
        TSkFaceTable table = start;
        QRgb hit = 0;
        zv::ReadStoredFaces(Button({ v, { "ButtonFaceTransCol", Ints({ 0x0000FF }) } }), table, hit);
        for (int s = 0; s < 8; ++s)
            EXPECT_EQ(table[std::size_t(s)], (FaceEntry { s + 1, s + 11 }))
                << v.Name.constData() << " state " << s;
        EXPECT_EQ(table[8], (FaceEntry { 77, 78 }));
        EXPECT_EQ(hit, qRgb(255, 0, 0));
    }
}

TEST(SkStoredFaces, LaterValueWinsAndOtherValuesAreSkipped)
{
    TSkFaceTable table {};
    QRgb hit = 0;
    const QByteArray old = Ints({ 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9 });
    TSkFaceTable expect {};
    expect.fill({ 4, 0 });
    zv::ReadStoredFaces(
        Button({ { "ButtonFaceIndicesNew", old }, { "Hint", "x" },
            { "ButtonFaceIndicesNew2", Ints({ 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4, 4, 4, 4 }) } }),
        table, hit);
    EXPECT_EQ(table, expect);
}

TEST(SkStoredFaces, WrongSizeIsAnErrorAndChangesNothing)
{
    TSkFaceTable table {};
    table[0] = { 5, 6 };
    QRgb hit = qRgb(7, 7, 7);
    const zv::SkStoredValue bad[] = {
        { "ButtonFaceIndicesNew2", Ints({ 1, 2, 3 }) },
        { "ButtonFaceIndicesNew", QByteArray(63, 0) },
        { "ButtonFaceIndices", QByteArray(72, 0) },
        { "ButtonFaceTransColNew", QByteArray(3, 0) },
    };
    for (const zv::SkStoredValue& v : bad) {
        // A good value first: it must not be half-applied when the bad one follows.
        EXPECT_THROW(zv::ReadStoredFaces(Button({ { "ButtonFaceTransCol", Ints({ 0 }) }, v }), table, hit),
            ESkFaceTableError)
            << v.Name.constData();
        EXPECT_EQ(table[0], (FaceEntry { 5, 6 }));
        EXPECT_EQ(hit, qRgb(7, 7, 7));
    }
}

TEST(SkFaceEntryFor, MissingFacesFallBackToUpOrPressed)
{
    TSkFaceTable table {};
    for (int s = 0; s < 9; ++s)
        table[std::size_t(s)].ListIndex = s;
    // Entries with an image: by list index.
    auto with = [&](std::vector<int> present) {
        return [present](const FaceEntry& e) {
            return std::find(present.begin(), present.end(), e.ListIndex) != present.end();
        };
    };
    const auto both = with({ 0, 4 });
    const int expect[9] = { 0, 0, 0, 4, 4, 0, 4, 4, -1 };
    for (int s = 0; s < 9; ++s)
        EXPECT_EQ(zv::SkFaceEntryFor(s, table, both), expect[s]) << "state " << s;
    EXPECT_EQ(zv::SkFaceEntryFor(2, table, with({ 0, 2 })), 2) << "a state's own face comes first";
    EXPECT_EQ(zv::SkFaceEntryFor(0, table, with({ 4 })), -1) << "no up face: nothing drawn";
    EXPECT_EQ(zv::SkFaceEntryFor(1, table, with({ 4 })), 0) << "disabled without faces: the background only";
    for (int s : { 3, 4, 6, 7 })
        EXPECT_EQ(zv::SkFaceEntryFor(s, table, with({ 0 })), 0)
            << "no pressed face: the up face, state " << s;
    EXPECT_EQ(zv::SkFaceEntryFor(9, table, both), -1);
}
