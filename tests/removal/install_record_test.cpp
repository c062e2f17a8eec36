// The record an install leaves for its removal, as text: only a whole record
// of its own version (or of the first) is read, no text it is given can add
// a line of its own,
// and a second install adds to it without turning a file the CAD had into
// one of the plug-in's.

#include <gtest/gtest.h>

#include <string>

#include "checked/FileDigest.h"
#include "removal/InstallRecord.h"
#include "removal/PendingRename.h"
#include "removal/Removal.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kDigestA(64, 'a');
const std::string kDigestB(64, 'b');

CRecordedFile File(const char* path, ULONGLONG size, const std::string& digest, bool keep) {
    CRecordedFile file;
    file.path = path;
    file.size = size;
    file.digest = digest;
    file.keep = keep;
    return file;
}

// A record with every kind of line; the GBK name 乗 ends in the byte 0x5C.
CInstallRecord Sample() {
    CInstallRecord record;
    CRecordedFile stamped = File("C:\\Tovrel\\T-VazivIvir\\Tovrel.lsp", 12, "", false);
    stamped.volume = 0xcafe0001;
    stamped.id = 0x123456789abcdefULL;
    stamped.lastWrite = 0x01d9f00012345678LL;
    stamped.source.volume = 0x11223344;
    stamped.source.id = 0xfedcba9876543210ULL;
    stamped.source.changed = 0x01d9f00087654321LL;
    record.AddFile(stamped);
    record.AddFile(File("C:\\Tovrel\\T-VazivIvir\\TR_VazivIvir2023.GRX", 31, kDigestA, false));
    record.AddFile(File("D:\\乗\\CAD\\GCAD2024P.dll", 0, "", true));
    record.AddSaved("D:\\乗\\CAD\\GCAD2024P.dll", SavedNameFor("D:\\乗\\CAD\\GCAD2024P.dll"));
    record.AddFolder("C:\\Tovrel\\T-VazivIvir");
    record.AddLoader("D:\\乗\\CAD\\GCAD2024P.dll");
    record.AddMadeKey("SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\乗\\Applications");
    record.AddUser("S-1-5-21-1-2-3-1001");
    return record;
}

TEST(InstallRecordTest, OnlyAWholeRecordOfItsVersionIsRead) {
    const std::string whole = Sample().Format();
    CInstallRecord read;
    ASSERT_TRUE(read.Parse(whole)) << whole;
    EXPECT_EQ(whole, read.Format());
    ASSERT_EQ(3u, read.Files().size());
    EXPECT_EQ(0x123456789abcdefULL, read.Files()[0].id);
    EXPECT_EQ(0xfedcba9876543210ULL, read.Files()[0].source.id);
    EXPECT_TRUE(read.Files()[2].keep);
    EXPECT_EQ("D:\\乗\\CAD\\GCAD2024P.dll", std::string(read.loaders[0].GetString()));
    ASSERT_EQ(1u, read.Saved().size());
    EXPECT_EQ(SavedNameFor("d:\\乗\\cad\\gcad2024p.DLL"), read.Saved()[0].name);

    // A record cut anywhere, as by a copy that stopped, is no record.
    for (size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        CInstallRecord cut = Sample();
        EXPECT_FALSE(cut.Parse(whole.substr(0, length)));
        EXPECT_EQ(whole, cut.Format()) << "a refused text changed the record";
    }

    // Versions 1 and 2 hold a digest and no stamp in their file lines.
    const std::string first = "TovrelUninstall\t1\r\n";
    const std::string header = "TovrelUninstall\t2\r\n";
    const std::string third = "TovrelUninstall\t3\r\n";
    const std::string saved = SavedNameFor("C:\\x").GetString();
    const std::string stamp = "cafe0001:0123456789abcdef:01d9f00012345678";
    const std::string source = "11223344:fedcba9876543210:01d9f00087654321";
    const struct {
        const char* name;
        std::string text;
        bool read;
    } cases[] = {
        {"empty record", header + "end\r\n", true},
        {"line breaks without carriage returns", "TovrelUninstall\t2\nD\tC:\\x\nend\n", true},
        {"the first version", first + "D\tC:\\x\r\nend\r\n", true},
        {"another version", "TovrelUninstall\t4\r\nend\r\n", false},
        {"saved bytes", header + "B\t" + saved + "\tC:\\x\r\nend\r\n", true},
        {"saved bytes under a name it never makes", header + "B\tUninstall.exe\tC:\\x\r\nend\r\n", false},
        {"saved bytes in another folder", header + "B\t..\\" + saved + "\tC:\\x\r\nend\r\n", false},
        {"version 1 with a digest", first + "F\t1\t" + kDigestA + "\t-\tC:\\x\r\nend\r\n", true},
        {"version 3 with a stamp", third + "F\t1\t" + stamp + "\t-\t-\tC:\\x\r\nend\r\n", true},
        {"version 3 with neither", third + "F\t1\t-\t-\t-\tC:\\x\r\nend\r\n", true},
        {"version 3 with its source", third + "F\t1\t" + stamp + "\t-\t-\t" + source + "\tC:\\x\r\nend\r\n", true},
        {"a source cut short", third + "F\t1\t" + stamp + "\t-\t-\t" + source.substr(1) + "\tC:\\x\r\nend\r\n", false},
        {"a source in version 2", header + "F\t1\t-\t-\t" + source + "\tC:\\x\r\nend\r\n", false},
        {"version 3 with a content hash", third + "F\t1\t-\t" + std::string(32, 'c') + "\t-\tC:\\x\r\nend\r\n", true},
        {"a digest of neither length", third + "F\t1\t-\t" + std::string(48, 'c') + "\t-\tC:\\x\r\nend\r\n", false},
        {"a version 2 file line in version 3", third + "F\t1\t" + kDigestA + "\t-\tC:\\x\r\nend\r\n", false},
        {"a stamp in version 2", header + "F\t1\t" + stamp + "\t-\t-\tC:\\x\r\nend\r\n", false},
        {"upper-case stamp", third + "F\t1\tCAFE0001:0123456789ABCDEF:01D9F00012345678\t-\t-\tC:\\x\r\nend\r\n", false},
        {"short stamp", third + "F\t1\tcafe0001:123456789abcdef:01d9f00012345678\t-\t-\tC:\\x\r\nend\r\n", false},
        {"stamp without an id", third + "F\t1\tcafe0001:0000000000000000:01d9f00012345678\t-\t-\tC:\\x\r\nend\r\n",
         false},
        {"no header", "D\tC:\\x\r\nend\r\n", false},
        {"text after the end", header + "end\r\nD\tC:\\x\r\n", false},
        {"unknown line", header + "X\tC:\\x\r\nend\r\n", false},
        {"short digest", header + "F\t1\t" + std::string(63, 'a') + "\t-\tC:\\x\r\nend\r\n", false},
        {"upper-case digest", header + "F\t1\t" + std::string(64, 'A') + "\t-\tC:\\x\r\nend\r\n", false},
        {"size not a number", header + "F\t1x\t-\t-\tC:\\x\r\nend\r\n", false},
        {"unknown mark", header + "F\t1\t-\tx\tC:\\x\r\nend\r\n", false},
        {"a tab in a path", header + "F\t1\t-\t-\tC:\\x\ty\r\nend\r\n", false},
        {"a zero byte in a path", third + "F\t1\t-\t-\t-\tC:\\x" + std::string(1, '\0') + "y\r\nend\r\n", false},
        {"a zero byte in a folder", header + "D\tC:\\x" + std::string(1, '\0') + "\\y\r\nend\r\n", false},
        {"empty folder", header + "D\t\r\nend\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CInstallRecord record;
        EXPECT_EQ(c.read, record.Parse(c.text));
    }
}

// A LOADER is formed from a CAD folder that any program of the user can
// write into the registry: a line break in it must not become a line of
// the record, such as a file to delete.
TEST(InstallRecordTest, NoTextAddsALineOfItsOwn) {
    const std::string injected = std::string("C:\\x\r\nF\t1\t") + kDigestA + "\t-\tC:\\Windows\\system32\\a.dll";
    for (const std::string& text : {injected, std::string("C:\\x\ty"), std::string("C:\\x\ny"), std::string()}) {
        SCOPED_TRACE(text);
        CInstallRecord record = Sample();
        const std::string before = record.Format();
        EXPECT_FALSE(record.AddLoader(text.c_str()));
        EXPECT_FALSE(record.AddFolder(text.c_str()));
        EXPECT_FALSE(record.AddMadeKey(text.c_str()));
        EXPECT_FALSE(record.AddUser(text.c_str()));
        EXPECT_FALSE(record.AddFile(File(text.c_str(), 1, kDigestA, false)));
        EXPECT_EQ(before, record.Format());
    }
}

// A second install places its files again: each keeps its mark once set,
// so one the CAD had before the first install is still kept, and one whose
// CAD file a later install saved (the CAD's update since) becomes the
// CAD's to get back. Nothing listed before is lost.
TEST(InstallRecordTest, ASecondInstallAddsToTheRecord) {
    CInstallRecord first;
    first.AddFile(File("C:\\CAD\\itextsharp.dll", 1, kDigestA, false));
    first.AddFile(File("C:\\CAD\\GCAD2024P.dll", 1, kDigestA, true));
    first.AddFolder("C:\\Tovrel");
    first.AddLoader("C:\\Tovrel\\T-VazivIvir\\TR_VazivIvir2023.GRX");

    CInstallRecord second;
    second.AddFile(File("c:\\cad\\ITEXTSHARP.DLL", 2, kDigestB, true));
    second.AddFile(File("C:\\CAD\\GCAD2024P.dll", 2, kDigestB, false));
    second.AddFile(File("D:\\Other\\T-VazivIvir\\Tovrel.lsp", 3, kDigestB, false));
    second.AddFolder("c:\\TOVREL");
    second.AddLoader("D:\\Other\\T-VazivIvir\\TR_VazivIvir2023.GRX");
    first.Merge(second);

    ASSERT_EQ(3u, first.Files().size());
    const struct {
        ULONGLONG size;
        bool keep;
    } expected[] = {{2, true}, {2, true}, {3, false}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(first.Files()[i].path.GetString());
        EXPECT_EQ(expected[i].size, first.Files()[i].size);
        EXPECT_EQ(kDigestB, first.Files()[i].digest);
        EXPECT_EQ(expected[i].keep, first.Files()[i].keep);
    }
    EXPECT_EQ(1, first.folders.GetSize());
    EXPECT_EQ(2, first.loaders.GetSize());
}

// A file is looked up by its path ignoring the case of single-byte letters
// only: a double-byte character whose second byte is a letter is another
// character than the one with the other letter.
TEST(InstallRecordTest, PathsDifferingInLetterCaseNameOneFile) {
    const struct {
        const char* recorded;
        const char* asked;
        bool found;
    } cases[] = {
        {"C:\\Tovrel\\T-VazivIvir\\Tovrel.LSP", "c:\\TOVREL\\t-vazivivir\\tovrel.lsp", true},
        {"D:\\乗\\CAD\\GCAD2024P.dll", "d:\\乗\\cad\\gcad2024p.DLL", true},
        {"C:\\\x81\x41\\x.dll", "C:\\\x81\x61\\x.dll", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.recorded);
        CInstallRecord record;
        ASSERT_TRUE(record.AddFile(File(c.recorded, 1, "", false)));
        EXPECT_EQ(c.found, record.FileAt(c.asked) != nullptr);
    }
}

// The restart's list as the registry holds it: the pairs whose source is
// the uninstaller or its folder go, and every other byte stays, however the
// list is cut or malformed.
TEST(PendingRenameTest, TakesBackOnlyWholePairsOfItsOwn) {
    const std::wstring z(1, L'\0');
    const std::wstring ours = L"\\??\\C:\\Program Files\\Tovrel\\Uninstall.exe" + z + z;
    const std::wstring folder = L"\\??\\C:\\Program Files\\Tovrel" + z + z;
    const std::wstring other = L"\\??\\C:\\other.tmp" + z + L"!\\??\\C:\\other.dll" + z;
    const std::vector<std::wstring> paths = {L"C:\\Program Files\\Tovrel\\Uninstall.exe", L"C:\\Program Files\\Tovrel"};
    auto bytes = [](const std::wstring& text) {
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    };
    const std::wstring lower = L"\\??\\c:\\PROGRAM FILES\\tovrel\\uninstall.EXE" + z + z;
    const std::wstring onto = L"\\??\\C:\\x" + z + L"\\??\\C:\\Program Files\\Tovrel" + z + z;
    const std::wstring inside = L"\\??\\C:\\Program Files\\Tovrel\\Uninstall.lst" + z + z;
    const std::wstring bare = L"C:\\Program Files\\Tovrel" + z + z;
    const std::wstring cut = ours.substr(0, ours.size() - 1);
    // Windows 10 and 11 mark their sources ("*1", "*2") before the prefix.
    const std::wstring marked = L"*1\\??\\C:\\Program Files\\Tovrel\\Uninstall.exe" + z + z;
    const std::wstring markedFolder = L"*2\\??\\C:\\Program Files\\Tovrel" + z + z;
    const std::wstring dosDevices = L"\\DosDevices\\C:\\Program Files\\Tovrel" + z + z;
    const std::wstring markedOther = L"*1\\??\\C:\\Program Files\\Tovrel\\Uninstall.exe.old" + z + z;
    const std::wstring markOnly = L"*1C:\\Program Files\\Tovrel" + z + z;
    const struct {
        const char* name;
        std::string value;
        std::string kept;
        bool removed;
    } cases[] = {
        {"ours among others", bytes(other + ours + folder + z), bytes(other + z), true},
        {"letter case", bytes(lower + z), bytes(z), true},
        {"an odd byte after ours", bytes(ours) + "x", "x", true},
        {"a rename onto ours", bytes(onto), bytes(onto), false},
        {"another file of the folder", bytes(inside), bytes(inside), false},
        {"no NT prefix", bytes(bare), bytes(bare), false},
        {"a target without its zero", bytes(cut + L"C:\\y"), bytes(cut + L"C:\\y"), false},
        {"a source without a target", bytes(other + cut), bytes(other + cut), false},
        {"after an empty source", bytes(z + ours), bytes(z + ours), false},
        {"empty", "", "", false},
        {"marked sources among others", bytes(marked + other + markedFolder + z), bytes(other + z), true},
        {"the DosDevices prefix", bytes(dosDevices), "", true},
        {"a marked look-alike", bytes(markedOther), bytes(markedOther), false},
        {"a mark without a prefix", bytes(markOnly), bytes(markOnly), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool removed = !c.removed;
        EXPECT_EQ(c.kept, WithoutPendingRenamesOf(c.value, paths, &removed));
        EXPECT_EQ(c.removed, removed);
    }
}

}  // namespace

namespace {

// A name longer than a file system allows is refused before it is looked
// up: its length cut to the 16 bits the native call has would name another
// file of the folder (32,772 characters read as 4: "aaaa"), whose bytes are
// the very ones recorded.
TEST(InstallRecordTest, ANameTooLongIsNeverLookedUp) {
    testsupport::ScratchFolder folder("record-long");
    const std::string other = folder / "aaaa";
    ASSERT_TRUE(testsupport::WriteFile(other, "bytes"));
    CFileDigest digest;
    digest.Begin();
    digest.Add("bytes", 5);
    ASSERT_TRUE(digest.Finish());
    for (const size_t length : {size_t{256}, size_t{32772}}) {
        SCOPED_TRACE(length);
        CInstallRecord record;
        ASSERT_TRUE(record.AddFile(File((folder / std::string(length, 'a')).c_str(), 5, digest.Hex(), false)));
        CRemovalOutcome outcome(record);
        CRecordFolders folders;
        RemoveRecordedFiles(record, folders, outcome);
        EXPECT_TRUE(testsupport::FileExists(other)) << "another file was deleted";
        EXPECT_EQ(1, outcome.named.GetSize());
    }
}

}  // namespace
