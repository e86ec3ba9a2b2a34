// The table of built-in texts is put together from the folders' own rows: every numbered text of the
// language sources must be in it once the station's code is, and a folder's rows go in once.

#include "platform/ResStrings.h"
#include "tools/lcfbuild/LcfBuild.h"

#include <gtest/gtest.h>
#include <set>
#include <stdexcept>

namespace {

// The ids the tests below register: no text of the program uses them.
constexpr int kTestIds = 31990;

} // namespace

TEST(ResStringTables, StationHoldsEveryNumberedTextOfItsLanguageSource)
{
    // This test names no station id: the rows must come in with the station's code itself.
    const zv::lcf::TPoSource source = zv::lcf::ReadPoSource(QStringLiteral(ZOVEVA_LANG_DIR "/pt_BR.po"));
    std::set<int> numbered;
    for (const auto& message : source.Messages) {
        bool isId = false;
        const int id = message.Context.toInt(&isId);
        if (isId) {
            numbered.insert(id);
            EXPECT_EQ(zv::BuiltInResString(id), message.Source) << id;
        }
    }
    for (const int id : zv::BuiltInResStringIds()) {
        EXPECT_TRUE(numbered.contains(id) || id >= kTestIds) << id;
    }
}

TEST(ResStringTables, RowsGoInOnceAndATakenIdIsRefused)
{
    static constexpr zv::ResStringRow kRows[] = { { kTestIds, "first" }, { kTestIds + 1, "second" } };
    const std::size_t before = zv::BuiltInResStringIds().size();
    zv::RegisterResStrings(kRows);
    zv::RegisterResStrings(kRows);
    EXPECT_EQ(zv::BuiltInResStringIds().size(), before + 2);
    EXPECT_EQ(zv::BuiltInResString(kTestIds + 1), QStringLiteral("second"));

    // Another table under a taken id: one of the two texts would be unreachable.
    static constexpr zv::ResStringRow kClash[]
        = { { kTestIds + 2, "new" }, { zv::SPropertyWhileOpen, "clash" } };
    EXPECT_THROW(zv::RegisterResStrings(kClash), std::logic_error);
    EXPECT_TRUE(zv::BuiltInResString(kTestIds + 2).isEmpty());
    EXPECT_NE(zv::BuiltInResString(zv::SPropertyWhileOpen), QStringLiteral("clash"));
}
