#include "framework/string.h"

#include <gtest/gtest.h>

#include <memory>

#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/frame.h"

TEST(CStringTest, FormatsAndEdits) {
    CString s;
    s.Format("%s%s(%d)%s", "C:\\clips\\", "Capture", 3, ".avi");
    EXPECT_STREQ(s, "C:\\clips\\Capture(3).avi");
    CString big;
    big.Format("%0600d", 7);  // longer than any small fixed buffer
    EXPECT_EQ(big.GetLength(), 600);
    EXPECT_EQ(big.Right(1), "7");

    CString path = "C:\\Dir\\Name.MPG";
    EXPECT_EQ(path.ReverseFind('\\'), 6);
    EXPECT_EQ(path.Mid(7), "Name.MPG");
    EXPECT_EQ(path.Mid(7, 4), "Name");
    EXPECT_EQ(path.Left(100), path);
    EXPECT_EQ(path.Mid(50), "");
    EXPECT_EQ(path.Find("Name"), 7);
    EXPECT_EQ(path.Find('x'), -1);
    EXPECT_EQ(path.Find('D', 99), -1);
    EXPECT_EQ(path.CompareNoCase("c:\\dir\\name.mpg"), 0);
    path.MakeLower();
    EXPECT_EQ(path, "c:\\dir\\name.mpg");

    CString quoted = "\"a\" \"b\" \"c\"";
    EXPECT_EQ(quoted.Replace("\" \"", "\""), 2);
    EXPECT_EQ(quoted, "\"a\"b\"c\"");

    CString padded = "  text \t";
    padded.TrimLeft();
    padded.TrimRight();
    EXPECT_EQ(padded, "text");

    CString buffer;
    lstrcpyA(buffer.GetBuffer(32), "written in place");
    buffer.ReleaseBuffer();
    EXPECT_EQ(buffer.GetLength(), 16);
}

TEST(CollectionsTest, ListKeepsPositionsAndOrder) {
    CPtrList list;
    int a = 1, b = 2, c = 3;
    list.AddTail(&b);
    POSITION pa = list.AddHead(&a);
    list.AddTail(&c);
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.Find(&c), list.GetTailPosition());
    EXPECT_EQ(list.FindIndex(0), pa);
    EXPECT_EQ(list.FindIndex(3), nullptr);
    list.RemoveAt(list.Find(&b));
    int seen[2] = {};
    int n = 0;
    for (POSITION pos = list.GetHeadPosition(); pos && n < 2;)
        seen[n++] = *static_cast<int*>(list.GetNext(pos));
    EXPECT_EQ(seen[0], 1);
    EXPECT_EQ(seen[1], 3);
    EXPECT_EQ(list.RemoveTail(), &c);
    EXPECT_EQ(list.RemoveHead(), &a);
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.RemoveHead(), nullptr);
}

TEST(CollectionsTest, StringMapAndArray) {
    CMapStringToOb map(10);
    CObject x, y;
    map.SetAt("b.avi", &y);
    map.SetAt("a.avi", &x);
    CObject* found = nullptr;
    EXPECT_TRUE(map.Lookup("a.avi", found));
    EXPECT_EQ(found, &x);
    EXPECT_FALSE(map.Lookup("A.AVI", found));  // keys are exact
    CString key;
    int count = 0;
    for (POSITION pos = map.GetStartPosition(); pos && count < 5; ++count)
        map.GetNextAssoc(pos, key, found);
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(map.RemoveKey("a.avi"));
    EXPECT_FALSE(map.RemoveKey("a.avi"));

    CStringArray names;
    names.Add("one");
    names.Add("three");
    names.InsertAt(1, "two");
    names.RemoveAt(0, 10);  // a count beyond the end removes to the end
    EXPECT_EQ(names.GetSize(), 0);
    EXPECT_THROW(names.GetAt(0), std::out_of_range);
}

namespace {
class CDynamicThing : public CWnd {
    DECLARE_DYNCREATE(CDynamicThing)
};
IMPLEMENT_DYNCREATE(CDynamicThing, CWnd)
}  // namespace

TEST(RuntimeClassTest, CreatesByRegisteredName) {
    CObject* made = CRuntimeClass::CreateObject("CDynamicThing");
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(CWnd)));
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(CCmdTarget)));
    EXPECT_FALSE(made->IsKindOf(RUNTIME_CLASS(CFrameWnd)));
    delete made;
    std::unique_ptr<CObject> frame(CRuntimeClass::CreateObject("CFrameWnd"));
    ASSERT_NE(frame, nullptr);
    EXPECT_STREQ(frame->GetRuntimeClass()->m_lpszClassName, "CFrameWnd");
    EXPECT_EQ(CRuntimeClass::CreateObject("CNoSuchClass"), nullptr);
    EXPECT_EQ(CRuntimeClass::CreateObject("CDialog"), nullptr);  // not creatable by name
}

TEST(FileDialogSelectionTest, SplitsExplorerResults) {
    struct Case {
        const char* bytes;
        size_t size;
        bool ok;
        const char* folder;
        std::vector<std::string> names;
    } cases[] = {
        {"C:\\d\\one.avi\0\0", 15, true, "", {"C:\\d\\one.avi"}},
        {"C:\\d\0a.avi\0b.avi\0\0", 19, true, "C:\\d", {"a.avi", "b.avi"}},
        {"C:\\d\0a.avi\0b.a", 14, true, "C:\\d", {"a.avi", "b.a"}},  // cut short: bounded by the size
        {"\0\0", 2, false, "", {}},
        {"no terminator", 5, false, "", {}},
    };
    for (const Case& c : cases) {
        CString folder;
        CStringArray names;
        EXPECT_EQ(CFileDialog::ParseSelection(c.bytes, c.size, folder, names), c.ok) << c.bytes;
        EXPECT_EQ(folder, c.folder);
        std::vector<std::string> got;
        for (int i = 0; i < names.GetSize(); ++i)
            got.push_back(names[i].c_str());
        EXPECT_EQ(got, c.names) << c.bytes;
    }
}
