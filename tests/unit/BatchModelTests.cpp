// The batch model: its entries, their order and the index of their keys.
#include <gtest/gtest.h>

#include <stdexcept>

#include "mainwin/uBatch.h"

namespace {

using Paths = std::vector<std::string>;

TEST(BatchKey, FoldsTheLettersAToZOnly) {
    EXPECT_EQ(BatchKey("C:\\Work\\a.dll"), "C:\\WORK\\A.DLL");
    EXPECT_EQ(BatchKey(""), "");
    // Every byte other than a-z is kept exactly, the other ASCII bytes and
    // the ANSI letters of the upper half included.
    EXPECT_EQ(BatchKey("az{}[]@`~ _-.09"), "AZ{}[]@`~ _-.09");
    EXPECT_EQ(BatchKey("\xE9\xC9\xFF\x80"), "\xE9\xC9\xFF\x80");
    EXPECT_EQ(BatchKey("C:/x/y.dll"), "C:/X/Y.DLL") << "no path normalisation";
    EXPECT_EQ(BatchKey(std::string("a\0b", 3)), std::string("A\0B", 3));
}

TEST(BatchModel, EntriesKeepPathAndFileName) {
    TBatchModel model;
    EXPECT_EQ(model.Count(), 0u);
    model.Append("C:\\Work\\one.dll");
    model.Append("two.ocx");
    model.Append("D:three.exe");
    model.Append("\\\\srv\\share/four.tlb");
    model.Append("C:\\Folder\\");
    ASSERT_EQ(model.Count(), 5u);
    EXPECT_EQ(model.Entry(0).Path, "C:\\Work\\one.dll");
    EXPECT_EQ(model.Entry(0).Name, "one.dll");
    EXPECT_EQ(model.Entry(1).Name, "two.ocx");
    EXPECT_EQ(model.Entry(2).Name, "three.exe");
    EXPECT_EQ(model.Entry(3).Name, "four.tlb");
    EXPECT_EQ(model.Entry(4).Name, "");
    EXPECT_EQ(model.Paths(),
              (Paths{"C:\\Work\\one.dll", "two.ocx", "D:three.exe", "\\\\srv\\share/four.tlb", "C:\\Folder\\"}));
    ASSERT_EQ(model.Entries().size(), 5u);
    EXPECT_EQ(&model.Entries()[2], &model.Entry(2));
    EXPECT_THROW(model.Entry(5), std::out_of_range);
}

TEST(BatchModel, AddUniqueComparesByKey) {
    TBatchModel model;
    EXPECT_TRUE(model.AddUnique("C:\\A.DLL"));
    EXPECT_FALSE(model.AddUnique("c:\\a.dll")) << "a-z fold";
    EXPECT_FALSE(model.AddUnique("C:\\a.Dll"));
    EXPECT_TRUE(model.Contains("c:\\A.dll"));
    EXPECT_EQ(model.Find("c:\\a.dll"), 0);

    // Upper-half ANSI letters are not folded: E acute upper and lower differ.
    EXPECT_TRUE(model.AddUnique("C:\\\xC9.dll"));
    EXPECT_TRUE(model.AddUnique("C:\\\xE9.dll"));
    // Separators are not normalised.
    EXPECT_TRUE(model.AddUnique("C:/A.DLL"));
    // Nothing else is folded either: no trimming, no short or long forms.
    EXPECT_TRUE(model.AddUnique("C:\\A.DLL "));
    EXPECT_TRUE(model.AddUnique("C:\\.\\A.DLL"));
    EXPECT_EQ(model.Paths(), (Paths{"C:\\A.DLL", "C:\\\xC9.dll", "C:\\\xE9.dll", "C:/A.DLL", "C:\\A.DLL ",
                                    "C:\\.\\A.DLL"}));
    EXPECT_EQ(model.Find("C:\\\xE9.DLL"), 2);
    EXPECT_EQ(model.Find("c:/a.dll"), 3);
    EXPECT_EQ(model.Find("C:\\B.DLL"), -1);
    EXPECT_FALSE(model.Contains("C:\\B.DLL"));
    EXPECT_FALSE(model.Contains(""));
    EXPECT_TRUE(model.AddUnique(""));
    EXPECT_TRUE(model.Contains(""));
    EXPECT_EQ(model.Find(""), 6);
}

TEST(BatchModel, AppendAndAssignKeepDuplicates) {
    TBatchModel model;
    model.Append("x.dll");
    model.Append("X.DLL");
    model.Append("x.dll");
    EXPECT_EQ(model.Count(), 3u);
    EXPECT_EQ(model.Find("X.dll"), 0);

    model.Assign({"a.dll", "b.dll", "B.DLL", "c.dll", "b.dll"});
    EXPECT_EQ(model.Paths(), (Paths{"a.dll", "b.dll", "B.DLL", "c.dll", "b.dll"}));
    EXPECT_EQ(model.Find("B.dll"), 1) << "the first of the duplicates";
    EXPECT_EQ(model.Find("C.DLL"), 3);
    EXPECT_FALSE(model.Contains("x.dll")) << "Assign replaces the old entries and their keys";
    EXPECT_FALSE(model.AddUnique("b.DLL"));
    EXPECT_EQ(model.Count(), 5u);
}

TEST(BatchModel, IndexFollowsRemove) {
    TBatchModel model;
    model.Assign({"a.dll", "b.dll", "B.DLL", "c.dll"});
    model.Remove(1);
    EXPECT_EQ(model.Paths(), (Paths{"a.dll", "B.DLL", "c.dll"}));
    EXPECT_TRUE(model.Contains("b.dll")) << "the other duplicate is still there";
    EXPECT_EQ(model.Find("b.dll"), 1);
    model.Remove(1);
    EXPECT_FALSE(model.Contains("b.dll"));
    EXPECT_EQ(model.Find("b.dll"), -1);
    EXPECT_EQ(model.Find("c.dll"), 1);

    // Add, remove, add again.
    EXPECT_TRUE(model.AddUnique("D.dll"));
    EXPECT_EQ(model.Find("d.dll"), 2);
    model.Remove(2);
    EXPECT_FALSE(model.Contains("d.dll"));
    EXPECT_TRUE(model.AddUnique("d.DLL"));
    EXPECT_EQ(model.Find("D.DLL"), 2);
    EXPECT_EQ(model.Entry(2).Path, "d.DLL");

    EXPECT_THROW(model.Remove(3), std::out_of_range);
    EXPECT_EQ(model.Count(), 3u);
    model.Remove(0);
    model.Remove(0);
    model.Remove(0);
    EXPECT_EQ(model.Count(), 0u);
    EXPECT_FALSE(model.Contains("a.dll"));
    EXPECT_FALSE(model.Contains("c.dll"));
    EXPECT_FALSE(model.Contains("d.dll"));
}

TEST(BatchModel, IndexFollowsClearAndAssign) {
    TBatchModel model;
    model.Assign({"a.dll", "b.dll"});
    model.Clear();
    EXPECT_EQ(model.Count(), 0u);
    EXPECT_FALSE(model.Contains("a.dll"));
    EXPECT_EQ(model.Find("a.dll"), -1);
    EXPECT_TRUE(model.AddUnique("a.dll"));
    EXPECT_FALSE(model.AddUnique("A.DLL"));

    model.Assign({});
    EXPECT_EQ(model.Count(), 0u);
    EXPECT_FALSE(model.Contains("a.dll"));
    model.Assign({"q.dll"});
    EXPECT_TRUE(model.Contains("Q.DLL"));
    EXPECT_FALSE(model.Contains("a.dll"));
}

TEST(BatchModel, MoveTakesOutAndInsertsAtTheTarget) {
    TBatchModel model;
    model.Assign({"a", "b", "c", "d", "e"});
    model.Move(0, 3);
    EXPECT_EQ(model.Paths(), (Paths{"b", "c", "d", "a", "e"}));
    model.Move(4, 0);
    EXPECT_EQ(model.Paths(), (Paths{"e", "b", "c", "d", "a"}));
    model.Move(1, 2);
    EXPECT_EQ(model.Paths(), (Paths{"e", "c", "b", "d", "a"}));
    model.Move(3, 3);
    EXPECT_EQ(model.Paths(), (Paths{"e", "c", "b", "d", "a"}));
    model.Move(0, 4);
    EXPECT_EQ(model.Paths(), (Paths{"c", "b", "d", "a", "e"}));
    // Names travel with their paths.
    EXPECT_EQ(model.Entry(4).Name, "e");
    EXPECT_EQ(model.Entry(0).Name, "c");

    // Find sees the new order; the first of two duplicates can change.
    model.Assign({"x", "y", "X"});
    EXPECT_EQ(model.Find("x"), 0);
    model.Move(0, 2);
    EXPECT_EQ(model.Paths(), (Paths{"y", "X", "x"}));
    EXPECT_EQ(model.Find("x"), 1);
    EXPECT_EQ(model.Find("Y"), 0);

    EXPECT_THROW(model.Move(3, 0), std::out_of_range);
    EXPECT_THROW(model.Move(0, 3), std::out_of_range);
    EXPECT_EQ(model.Paths(), (Paths{"y", "X", "x"}));
}

TEST(BatchModel, HundredThousandEntries) {
    const size_t count = 100000;
    Paths paths;
    paths.reserve(count);
    for (size_t i = 0; i < count; ++i) paths.push_back("C:\\Servers\\Sub" + std::to_string(i % 97) + "\\server" +
                                                       std::to_string(i) + ".dll");
    TBatchModel model;
    model.Assign(paths);
    ASSERT_EQ(model.Count(), count);
    EXPECT_TRUE(model.Contains("c:\\servers\\sub0\\SERVER0.DLL"));
    EXPECT_TRUE(model.Contains("C:\\Servers\\Sub" + std::to_string(99999 % 97) + "\\server99999.dll"));
    EXPECT_EQ(model.Find("C:\\SERVERS\\SUB" + std::to_string(54321 % 97) + "\\SERVER54321.DLL"), 54321);
    EXPECT_FALSE(model.AddUnique("C:\\Servers\\Sub" + std::to_string(77777 % 97) + "\\Server77777.DLL"));
    EXPECT_EQ(model.Count(), count);
    EXPECT_TRUE(model.AddUnique("C:\\Servers\\new.dll"));
    EXPECT_EQ(model.Count(), count + 1);
    EXPECT_EQ(model.Find("c:\\servers\\NEW.dll"), static_cast<int>(count));
    EXPECT_EQ(model.Entry(count).Name, "new.dll");
    EXPECT_FALSE(model.Contains("C:\\Servers\\server100000.dll"));
    EXPECT_EQ(model.Find("C:\\Servers\\server100000.dll"), -1);
    model.Remove(0);
    EXPECT_FALSE(model.Contains("C:\\Servers\\Sub0\\server0.dll"));
    EXPECT_EQ(model.Find("c:\\servers\\new.dll"), static_cast<int>(count - 1));
}

}  // namespace
