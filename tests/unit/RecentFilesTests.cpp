// The recently used batch files: the list's rules and its storage in the
// real registry of the test prefix.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/QVRegUtils.h"
#include "mainwin/uBatch.h"
#include "support/TestEnv.h"

namespace {

using Items = std::vector<std::string>;

const std::string kApp = "Software\\CorvantisTests\\RecentFiles";
const std::string kStorage = kApp + "\\Storage";
const std::string kMru = kStorage + "\\MRU";

TRecentFiles Filled(const Items& oldestFirst) {
    TRecentFiles recent;
    for (const std::string& path : oldestFirst) recent.Add(path);
    return recent;
}

// ---------------------------------------------------------------------------
// The list

TEST(RecentFiles, MostRecentFirst) {
    TRecentFiles recent;
    EXPECT_EQ(recent.Items(), Items{});
    recent.Add("C:\\a.kvx");
    recent.Add("C:\\b.kvx");
    recent.Add("C:\\c.kvx");
    EXPECT_EQ(recent.Items(), (Items{"C:\\c.kvx", "C:\\b.kvx", "C:\\a.kvx"}));
    // Adding an entry again moves it to the top.
    recent.Add("C:\\a.kvx");
    EXPECT_EQ(recent.Items(), (Items{"C:\\a.kvx", "C:\\c.kvx", "C:\\b.kvx"}));
    recent.Add("C:\\a.kvx");
    EXPECT_EQ(recent.Items(), (Items{"C:\\a.kvx", "C:\\c.kvx", "C:\\b.kvx"}));
}

TEST(RecentFiles, EqualIgnoringCase) {
    TRecentFiles recent = Filled({"C:\\Work\\One.kvx", "C:\\Work\\Two.kvx"});
    recent.Add("c:\\WORK\\one.KVX");
    EXPECT_EQ(recent.Items(), (Items{"c:\\WORK\\one.KVX", "C:\\Work\\Two.kvx"})) << "the new spelling is kept";
    // Upper-half ANSI letters compare ignoring case too (E acute).
    recent.Add("C:\\\xC9t\xC9.kvx");
    recent.Add("c:\\\xE9t\xE9.kvx");
    EXPECT_EQ(recent.Items(), (Items{"c:\\\xE9t\xE9.kvx", "c:\\WORK\\one.KVX", "C:\\Work\\Two.kvx"}));
    // Different separators or extra blanks make different entries.
    recent.Add("C:/Work/Two.kvx");
    recent.Add("C:\\Work\\Two.kvx ");
    EXPECT_EQ(recent.Items().size(), 5u);
}

TEST(RecentFiles, TenAtMost) {
    TRecentFiles recent;
    for (int i = 1; i <= 10; ++i) recent.Add("C:\\f" + std::to_string(i) + ".kvx");
    ASSERT_EQ(recent.Items().size(), 10u);
    EXPECT_EQ(TRecentFiles::kMaxItems, 10u);
    EXPECT_EQ(recent.Items().front(), "C:\\f10.kvx");
    EXPECT_EQ(recent.Items().back(), "C:\\f1.kvx");
    // The eleventh distinct path drops the oldest.
    recent.Add("C:\\f11.kvx");
    ASSERT_EQ(recent.Items().size(), 10u);
    EXPECT_EQ(recent.Items().front(), "C:\\f11.kvx");
    EXPECT_EQ(recent.Items().back(), "C:\\f2.kvx");
    // Moving an entry that is already there drops nothing.
    recent.Add("C:\\F2.KVX");
    ASSERT_EQ(recent.Items().size(), 10u);
    EXPECT_EQ(recent.Items().front(), "C:\\F2.KVX");
    EXPECT_EQ(recent.Items().back(), "C:\\f3.kvx");
    EXPECT_EQ(recent.Items()[1], "C:\\f11.kvx");
}

TEST(RecentFiles, Remove) {
    TRecentFiles recent = Filled({"C:\\a.kvx", "C:\\b.kvx", "C:\\c.kvx"});
    recent.Remove("C:\\B.KVX");
    EXPECT_EQ(recent.Items(), (Items{"C:\\c.kvx", "C:\\a.kvx"}));
    recent.Remove("C:\\absent.kvx");
    EXPECT_EQ(recent.Items(), (Items{"C:\\c.kvx", "C:\\a.kvx"}));
    recent.Remove("C:\\c.kvx");
    recent.Remove("c:\\A.kvx");
    EXPECT_EQ(recent.Items(), Items{});
    recent.Remove("C:\\a.kvx");
    EXPECT_EQ(recent.Items(), Items{});
}

// ---------------------------------------------------------------------------
// Storage

class RecentFilesStorage : public ::testing::Test {
protected:
    void SetUp() override { testenv::DeleteTree(HKEY_CURRENT_USER, kApp); }
    void TearDown() override { testenv::DeleteTree(HKEY_CURRENT_USER, kApp); }

    // The names of the stored values in the registry's order.
    static Items StoredNames() { return qv::ReadRegValueNames(HKEY_CURRENT_USER, kStorage, "MRU", {"<absent>"}); }
    // Type and bytes of a stored value.
    static std::pair<DWORD, std::string> Stored(const std::string& name) {
        char data[512];
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegGetValueA(HKEY_CURRENT_USER, kMru.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                         &size) != ERROR_SUCCESS) {
            return {REG_NONE, "<absent>"};
        }
        return {type, std::string(data, size)};
    }
    static std::pair<DWORD, std::string> Sz(const std::string& text) {
        return {REG_SZ, text + std::string(1, '\0')};
    }
};

TEST_F(RecentFilesStorage, SaveWritesOneValuePerEntryWithItsPosition) {
    TRecentFiles recent = Filled({"C:\\m.kvx", "C:\\a.kvx", "C:\\z.kvx"});
    ASSERT_EQ(recent.Items(), (Items{"C:\\z.kvx", "C:\\a.kvx", "C:\\m.kvx"}));
    recent.Save(HKEY_CURRENT_USER, kStorage);
    Items names = StoredNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Items{"C:\\a.kvx", "C:\\m.kvx", "C:\\z.kvx"}));
    EXPECT_EQ(Stored("C:\\z.kvx"), Sz("1"));
    EXPECT_EQ(Stored("C:\\a.kvx"), Sz("2"));
    EXPECT_EQ(Stored("C:\\m.kvx"), Sz("3"));
    // Nothing else is written: no default value, no other value.
    EXPECT_EQ(Stored(""), std::make_pair(DWORD(REG_NONE), std::string("<absent>")));
}

TEST_F(RecentFilesStorage, SaveReplacesEverythingStored) {
    qv::WriteRegString(HKEY_CURRENT_USER, kMru, "C:\\stale.kvx", "1");
    qv::WriteRegString(HKEY_CURRENT_USER, kMru, "", "default");
    qv::WriteRegString(HKEY_CURRENT_USER, kStorage, "Sibling", "kept");
    TRecentFiles recent = Filled({"C:\\fresh.kvx"});
    recent.Save(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(StoredNames(), Items{"C:\\fresh.kvx"});
    EXPECT_EQ(Stored("C:\\fresh.kvx"), Sz("1"));
    EXPECT_EQ(testenv::ReadString(HKEY_CURRENT_USER, kStorage, "Sibling"), "kept") << "the storage key's own values";

    // An empty list leaves the subkey empty, and loads as an empty list.
    TRecentFiles().Save(HKEY_CURRENT_USER, kStorage);
    EXPECT_TRUE(testenv::KeyExists(HKEY_CURRENT_USER, kMru));
    EXPECT_EQ(StoredNames(), Items{});
    TRecentFiles loaded = Filled({"C:\\x.kvx"});
    loaded.Load(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(loaded.Items(), Items{});
}

TEST_F(RecentFilesStorage, RoundTripKeepsTheOrder) {
    // Written in an order the registry's (sorted) enumeration does not give.
    TRecentFiles recent = Filled({"C:\\b.kvx", "D:\\Work\\y y.kvx", "C:\\a.kvx", "C:\\z.kvx", "C:\\\xC3\xA9.kvx"});
    const Items expected = {"C:\\\xC3\xA9.kvx", "C:\\z.kvx", "C:\\a.kvx", "D:\\Work\\y y.kvx", "C:\\b.kvx"};
    ASSERT_EQ(recent.Items(), expected);
    recent.Save(HKEY_CURRENT_USER, kStorage);
    ASSERT_NE(StoredNames(), expected) << "the test needs an enumeration order other than the list's";
    TRecentFiles loaded;
    loaded.Load(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(loaded.Items(), expected);

    // Ten entries, more than nine: positions compare as numbers, not text.
    TRecentFiles ten;
    for (int i = 1; i <= 10; ++i) ten.Add("C:\\f" + std::to_string(i) + ".kvx");
    ten.Save(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(Stored("C:\\f10.kvx"), Sz("1"));
    EXPECT_EQ(Stored("C:\\f1.kvx"), Sz("10"));
    TRecentFiles loadedTen = Filled({"C:\\other.kvx"});
    loadedTen.Load(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(loadedTen.Items(), ten.Items());

    // The storage key may be given with a leading backslash.
    TRecentFiles rooted;
    rooted.Load(HKEY_CURRENT_USER, "\\" + kStorage);
    EXPECT_EQ(rooted.Items(), ten.Items());
}

TEST_F(RecentFilesStorage, OldFormatLoadsInEnumerationOrder) {
    // Older versions wrote the names only, every value with empty data.
    const Items names = {"C:\\q.kvx", "C:\\b.kvx", "C:\\x.kvx"};
    qv::WriteRegValueNames(HKEY_CURRENT_USER, kStorage, "MRU", names);
    ASSERT_EQ(Stored("C:\\q.kvx"), Sz(""));
    const Items enumerated = StoredNames();
    TRecentFiles recent = Filled({"C:\\other.kvx"});
    recent.Load(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(recent.Items(), enumerated);
    Items sorted = recent.Items();
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (Items{"C:\\b.kvx", "C:\\q.kvx", "C:\\x.kvx"}));
}

TEST_F(RecentFilesStorage, PositionsAreUsedOnlyWhenEveryValueHasOne) {
    // One value without a position: the registry's order for all.
    qv::WriteRegValueNames(HKEY_CURRENT_USER, kStorage, "MRU", {"C:\\a.kvx", "C:\\b.kvx", "C:\\c.kvx"});
    qv::WriteRegString(HKEY_CURRENT_USER, kMru, "C:\\a.kvx", "3");
    qv::WriteRegString(HKEY_CURRENT_USER, kMru, "C:\\b.kvx", "2");
    const Items enumerated = StoredNames();
    TRecentFiles recent;
    recent.Load(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(recent.Items(), enumerated);

    // Every value with a position: ordered by it.
    qv::WriteRegString(HKEY_CURRENT_USER, kMru, "C:\\c.kvx", "1");
    recent.Load(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(recent.Items(), (Items{"C:\\c.kvx", "C:\\b.kvx", "C:\\a.kvx"}));

    // Zero, signs, blanks, letters and numbers of another type are no positions.
    for (const char* bad : {"0", "-1", "+1", " 1", "1 ", "1a", "x", "01x"}) {
        qv::WriteRegString(HKEY_CURRENT_USER, kMru, "C:\\c.kvx", bad);
        recent.Load(HKEY_CURRENT_USER, kStorage);
        EXPECT_EQ(recent.Items(), enumerated) << bad;
    }
    qv::WriteRegInteger(HKEY_CURRENT_USER, kMru, "C:\\c.kvx", 1);
    recent.Load(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(recent.Items(), enumerated) << "a DWORD";

    // Gaps and leading zeros are fine: only the order of the numbers counts.
    qv::WriteRegString(HKEY_CURRENT_USER, kMru, "C:\\c.kvx", "007");
    qv::WriteRegString(HKEY_CURRENT_USER, kMru, "C:\\b.kvx", "40");
    qv::WriteRegString(HKEY_CURRENT_USER, kMru, "C:\\a.kvx", "12");
    recent.Load(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(recent.Items(), (Items{"C:\\c.kvx", "C:\\a.kvx", "C:\\b.kvx"}));
}

TEST_F(RecentFilesStorage, AtMostTenAreLoaded) {
    // Twelve stored values with positions: the first ten by position.
    Items names;
    for (int i = 1; i <= 12; ++i) names.push_back("C:\\n" + std::to_string(i) + ".kvx");
    qv::WriteRegValueNames(HKEY_CURRENT_USER, kStorage, "MRU", names);
    for (int i = 1; i <= 12; ++i) {
        qv::WriteRegString(HKEY_CURRENT_USER, kMru, names[static_cast<size_t>(i - 1)], std::to_string(13 - i));
    }
    TRecentFiles recent;
    recent.Load(HKEY_CURRENT_USER, kStorage);
    Items expected;
    for (int i = 12; i >= 3; --i) expected.push_back("C:\\n" + std::to_string(i) + ".kvx");
    EXPECT_EQ(recent.Items(), expected);

    // Twelve old-style values: the first ten the registry gives.
    qv::WriteRegValueNames(HKEY_CURRENT_USER, kStorage, "MRU", names);
    Items enumerated = StoredNames();
    ASSERT_EQ(enumerated.size(), 12u);
    enumerated.resize(10);
    recent.Load(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(recent.Items(), enumerated);
}

TEST_F(RecentFilesStorage, MissingKeyLeavesTheListUnchanged) {
    TRecentFiles recent = Filled({"C:\\a.kvx", "C:\\b.kvx"});
    const Items before = recent.Items();
    recent.Load(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(recent.Items(), before) << "no key at all";
    qv::WriteRegString(HKEY_CURRENT_USER, kStorage, "Other", "x");
    recent.Load(HKEY_CURRENT_USER, kStorage);
    EXPECT_EQ(recent.Items(), before) << "the key without its MRU subkey";
    EXPECT_FALSE(testenv::KeyExists(HKEY_CURRENT_USER, kMru)) << "loading creates nothing";
}

}  // namespace
