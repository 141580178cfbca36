#include "engine/tset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_ansi.h"

namespace {

using engine::TSet;

std::vector<std::string> Forward(TSet& set) {
    std::vector<std::string> out;
    const char* s = nullptr;
    for (uint32_t r = set.First(&s); r == 0; r = set.Next(&s)) out.emplace_back(s);
    return out;
}

std::vector<std::string> Backward(TSet& set) {
    std::vector<std::string> out;
    const char* s = nullptr;
    for (uint32_t r = set.Last(&s); r == 0; r = set.Previous(&s)) out.emplace_back(s);
    return out;
}

void InsertAll(TSet& set, std::initializer_list<const char*> texts) {
    for (const char* t : texts) ASSERT_EQ(0u, set.Insert(t)) << t;
}

TEST(TSetOrder, FoldsToLowerCaseSoUnderscoreSortsBeforeLetters) {
    TSet set;
    // Upper-case folding, or a plain byte compare, would put "_" after "A".
    InsertAll(set, {"C:\\AAB", "c:\\a_b", "C:\\A\\B", "C:\\A"});
    EXPECT_EQ((std::vector<std::string>{"C:\\A", "C:\\A\\B", "c:\\a_b", "C:\\AAB"}), Forward(set));
}

TEST(TSetOrder, BackwardWalkHandlesChildrenBeforeParents) {
    TSet set;
    InsertAll(set, {"C:\\A\\B", "C:\\A", "C:\\A\\B\\C"});
    EXPECT_EQ((std::vector<std::string>{"C:\\A\\B\\C", "C:\\A\\B", "C:\\A"}), Backward(set));
}

TEST(TSetOrder, HighBytesCompareUnsignedAndFoldInTheCodePage) {
    TSet set;
    // 0xC9/0xE9 are E-acute in upper and lower case in Windows-1252.
    InsertAll(set, {"Z", "\xC9t\xE9", "A"});
    EXPECT_EQ(0u, set.Insert("\xE9T\xC9"));
    EXPECT_EQ(3u, set.Count());
    EXPECT_EQ((std::vector<std::string>{"A", "Z", "\xC9t\xE9"}), Forward(set));

    // In UTF-8: Greek and Cyrillic fold, "_" stays below the letters, ASCII before the rest.
    platform::sim::ScopedAnsiCodePage utf8(platform::kCodePageUtf8);
    TSet wide;
    InsertAll(wide, {"\xCE\xA9mega", "Omega", "A_B", "AAB", "\xD0\x94"});
    EXPECT_EQ(0u, wide.Insert("\xCF\x89MEGA"));
    EXPECT_EQ(0u, wide.Insert("\xD0\xB4"));
    EXPECT_EQ((std::vector<std::string>{"A_B", "AAB", "Omega", "\xCE\xA9mega", "\xD0\x94"}), Forward(wide));
}

TEST(TSetInsert, CaseVariantKeepsFirstSpellingAndSucceeds) {
    TSet set;
    EXPECT_EQ(0u, set.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\A"));
    EXPECT_EQ(0u, set.Insert("hkey_local_machine\\software\\a"));
    EXPECT_EQ(1u, set.Count());
    EXPECT_EQ((std::vector<std::string>{"HKEY_LOCAL_MACHINE\\SOFTWARE\\A"}), Forward(set));
    EXPECT_TRUE(set.Contains("Hkey_Local_Machine\\Software\\A"));
    EXPECT_FALSE(set.Contains("HKEY_LOCAL_MACHINE\\SOFTWARE"));
    EXPECT_FALSE(set.Contains("HKEY_LOCAL_MACHINE\\SOFTWARE\\AB"));
    EXPECT_FALSE(set.Contains(nullptr));
}

TEST(TSetInsert, StoresItsOwnCopy) {
    TSet set;
    char buffer[] = "ORIGINAL";
    ASSERT_EQ(0u, set.Insert(buffer));
    buffer[0] = 'X';
    EXPECT_TRUE(set.Contains("ORIGINAL"));
    EXPECT_FALSE(set.Contains("XRIGINAL"));
}

TEST(TSetInsert, DoesNotMoveEitherCursor) {
    TSet set;
    InsertAll(set, {"B", "D"});
    const char* s = nullptr;
    ASSERT_EQ(0u, set.First(&s));
    ASSERT_EQ(0u, set.Last(&s));
    InsertAll(set, {"A", "C", "E"});
    ASSERT_EQ(0u, set.Next(&s));
    EXPECT_STREQ("C", s);
    ASSERT_EQ(0u, set.Previous(&s));
    EXPECT_STREQ("C", s);
}

TEST(TSetCursor, EmptySetEndsEveryWalkAt259) {
    TSet set;
    const char* s = reinterpret_cast<const char*>(0xdeadbeef);
    EXPECT_EQ(259u, set.First(&s));
    EXPECT_EQ(259u, set.Last(&s));
    EXPECT_EQ(reinterpret_cast<const char*>(0xdeadbeef), s);
    EXPECT_TRUE(set.IsEmpty());
    EXPECT_EQ(0u, set.Count());
}

TEST(TSetCursor, CursorsAreIndependentAndStayAtTheEnd) {
    TSet set;
    InsertAll(set, {"A", "B", "C"});
    const char* f = nullptr;
    const char* b = nullptr;
    ASSERT_EQ(0u, set.First(&f));
    ASSERT_EQ(0u, set.Last(&b));
    ASSERT_EQ(0u, set.Next(&f));
    ASSERT_EQ(0u, set.Previous(&b));
    EXPECT_STREQ("B", f);
    EXPECT_STREQ("B", b);
    ASSERT_EQ(0u, set.Next(&f));
    EXPECT_STREQ("C", f);
    EXPECT_EQ(259u, set.Next(&f));
    EXPECT_EQ(259u, set.Next(&f));  // stays at the end
    ASSERT_EQ(0u, set.Previous(&b));
    EXPECT_STREQ("A", b);
    EXPECT_EQ(259u, set.Previous(&b));
    EXPECT_EQ(259u, set.Previous(&b));
}

TEST(TSetRemoveCurrent, RemovingEverythingEndsWith259AndAnEmptySet) {
    TSet set;
    InsertAll(set, {"A", "B", "C"});
    const char* s = nullptr;
    uint32_t r = set.First(&s);
    int removed = 0;
    while (r == 0) {
        r = set.RemoveCurrent(&s);
        ++removed;
    }
    EXPECT_EQ(259u, r);
    EXPECT_EQ(3, removed);
    EXPECT_TRUE(set.IsEmpty());
    EXPECT_EQ(259u, set.First(&s));
}

TEST(TSetRemoveCurrent, DropsSelectedElementsDuringAForwardWalk) {
    TSet set;
    InsertAll(set, {"KEEP1", "DROP1", "KEEP2", "DROP2", "KEEP3"});
    const char* s = nullptr;
    uint32_t r = set.First(&s);
    while (r == 0) {
        if (std::string(s).rfind("DROP", 0) == 0) {
            r = set.RemoveCurrent(&s);
        } else {
            r = set.Next(&s);
        }
    }
    EXPECT_EQ((std::vector<std::string>{"KEEP1", "KEEP2", "KEEP3"}), Forward(set));
}

TEST(TSetRemoveCurrent, ReverseCursorOnTheRemovedStringDoesNotDangle) {
    TSet set;
    InsertAll(set, {"A", "B"});
    const char* f = nullptr;
    const char* b = nullptr;
    ASSERT_EQ(0u, set.Last(&b));  // on B
    ASSERT_EQ(0u, set.First(&f));
    ASSERT_EQ(0u, set.Next(&f));  // on B
    EXPECT_EQ(259u, set.RemoveCurrent(&f));
    // Under AddressSanitizer a cursor left on the freed string would show here.
    EXPECT_EQ(259u, set.Previous(&b));
    ASSERT_EQ(0u, set.Last(&b));
    EXPECT_STREQ("A", b);
}

TEST(TSetAddAll, MergesAndPlacesBothCursors) {
    TSet target;
    TSet source;
    InsertAll(target, {"B", "D"});
    InsertAll(source, {"a", "b", "C", "E"});
    TSet& self = target.AddAll(source);
    EXPECT_EQ(&target, &self);
    EXPECT_EQ((std::vector<std::string>{"a", "B", "C", "D", "E"}), Forward(target));

    const char* s = nullptr;
    EXPECT_EQ(259u, source.Next(&s));  // the source's forward cursor was left at its end
    EXPECT_EQ(4u, source.Count());

    TSet other;
    InsertAll(other, {"X", "Y", "Z"});
    target.AddAll(other);
    ASSERT_EQ(0u, target.Next(&s));  // forward cursor on the first string
    EXPECT_STREQ("B", s);
    ASSERT_EQ(0u, target.Previous(&s));  // reverse cursor on the last string
    EXPECT_STREQ("Y", s);

    target.AddAll(target);  // into itself: nothing changes
    EXPECT_EQ(8u, target.Count());
}

}  // namespace
