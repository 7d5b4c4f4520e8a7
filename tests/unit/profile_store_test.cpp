#include "settings/profile_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <pugixml.hpp>
#include <sstream>

#include "platform/sim/posix_profile_files.h"
#include "settings/pendant_settings.h"
#include "settings/pendant_settings_io.h"
#include "support/fake_platform.h"

namespace {

constexpr const char* kPath = "C:/host/profile.xml";
constexpr const char* kSec = "Talvik_Q5_Pendant";

class ProfileStoreTest : public ::testing::Test {
 protected:
  // Opens a store over `initial` (absent when nullptr), runs `body`, releases the store and
  // returns the file afterwards.
  std::string Run(const char* initial, const std::function<void(ProfileStore&)>& body = {}) {
    if (initial != nullptr) files.files[kPath] = initial;
    {
      ProfileStore store(kPath, files);
      if (body) body(store);
    }
    return files.files[kPath];
  }

  MemoryProfileFiles files;
};

pugi::xml_node Parse(pugi::xml_document& doc, const std::string& bytes) {
  EXPECT_TRUE(doc.load_buffer(bytes.data(), bytes.size()));
  return doc.document_element();
}

// A host profile of roughly `sections` * 1 KB: declaration, comments, CRLF line ends, attributes,
// a processing instruction and CDATA, with the plug-in's section somewhere in the middle.
std::string HostProfile(int sections, bool withPendantSection, const char* lineEnd = "\r\n") {
  std::ostringstream out;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>" << lineEnd
      << "<!-- written by the host -->" << lineEnd << "<profile version='4'>" << lineEnd;
  for (int s = 0; s < sections; ++s) {
    if (withPendantSection && s == sections / 2) {
      out << "  <" << kSec << ">" << lineEnd;
      for (const char* key : {"BUTTON0", "Vel", "StepJogRate", "S1"}) {
        out << "    <" << key << ">" << (key[0] == 'S' && key[1] == '1' ? "0.0001" : "1") << "</"
            << key << ">" << lineEnd;
      }
      out << "  </" << kSec << ">" << lineEnd;
    }
    out << "  <Section" << s << " kind=\"a &amp; b\">" << lineEnd << "    <!-- block " << s
        << " -->" << lineEnd;
    for (int k = 0; k < 20; ++k) {
      out << "    <Key" << k << ">" << (s * 31 + k) << ".25</Key" << k << ">" << lineEnd;
    }
    if (s % 50 == 0) out << "    <?host-pi keep this?>" << lineEnd;
    if (s % 70 == 0) out << "    <Script><![CDATA[if a < b then]]></Script>" << lineEnd;
    out << "    <Empty/>\t" << lineEnd << "  </Section" << s << ">" << lineEnd;
  }
  out << "</profile>" << lineEnd << "<!-- trailing -->" << lineEnd;
  return out.str();
}

TEST_F(ProfileStoreTest, MissingFileGetsRootWithSectionAndKeysInWriteOrder) {
  const std::string out = Run(nullptr, [](ProfileStore& s) {
    EXPECT_EQ(s.ReadInt(kSec, "A", 5), 5);
    s.WriteInt(kSec, "B", 2);
    s.WriteString(kSec, "A", "x");
  });
  pugi::xml_document doc;
  pugi::xml_node root = Parse(doc, out);
  EXPECT_STREQ(root.name(), "profile");
  pugi::xml_node first = root.first_element_by_path(kSec).first_child();
  while (first && first.type() != pugi::node_element) first = first.next_sibling();
  EXPECT_STREQ(first.name(), "B");
  EXPECT_STREQ(root.child(kSec).child_value("A"), "x");
  EXPECT_EQ(files.replaceCount, 1);
  // Reopened, both values read back.
  ProfileStore again(kPath, files);
  EXPECT_EQ(again.ReadInt(kSec, "B", 0), 2);
  EXPECT_EQ(again.ReadString(kSec, "A", ""), "x");
}

TEST_F(ProfileStoreTest, ForeignRootKeptAndSectionAppendedLast) {
  const std::string out = Run("<Cfg><A>1</A><B/></Cfg>", [](ProfileStore& s) {
    EXPECT_EQ(s.ReadInt(kSec, "K", 9), 9);
    s.WriteInt(kSec, "K", 3);
  });
  EXPECT_EQ(out, std::string("<Cfg><A>1</A><B/><") + kSec + "><K>3</K></" + kSec + "></Cfg>");
}

TEST_F(ProfileStoreTest, OnlyTheFirstOfTwoSameNameSectionsIsUsed) {
  const std::string out = Run("<p><S><K>1</K></S><S><K>2</K></S></p>", [](ProfileStore& s) {
    EXPECT_EQ(s.ReadInt("S", "K", 0), 1);
    s.WriteInt("S", "K", 7);
    s.WriteInt("S", "New", 8);
  });
  EXPECT_EQ(out, "<p><S><K>7</K><New>8</New></S><S><K>2</K></S></p>");
}

TEST_F(ProfileStoreTest, KeyWithChildElementsReadsAllTextAndWriteReplacesIt) {
  const std::string out =
      Run("<p><S><K> <a>1</a>\n <b>2<c>3</c></b> </K></S></p>", [](ProfileStore& s) {
        EXPECT_EQ(s.ReadInt("S", "K", 0), 123);
        EXPECT_EQ(s.ReadString("S", "K", ""), "123");
        s.WriteString("S", "K", "x<&>y");
      });
  EXPECT_EQ(out, "<p><S><K>x&lt;&amp;&gt;y</K></S></p>");
  ProfileStore again(kPath, files);
  EXPECT_EQ(again.ReadString("S", "K", ""), "x<&>y");
  // Characters XML cannot hold never reach the file.
  again.WriteString("S", "K", std::string("1\x01\x1F\0", 4) + "2");
  again.CloseProfile();
  EXPECT_EQ(files.files[kPath], "<p><S><K>12</K></S></p>");
}

TEST_F(ProfileStoreTest, ReadIntParsesLeadingNumber) {
  struct Case {
    const char* text;
    std::int32_t expected;
  } cases[] = {
      {"-1", -1},
      {"abc", 0},
      {"12x", 12},
      {" \t+42", 42},
      {"-7", -7},
      {"- 7", 0},
      {"0", 0},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", INT32_MIN},  // wraps, no overflow check
      {"4294967297", 1},
      {"99999999999999999999", static_cast<std::int32_t>(1661992959u)},
  };
  for (const Case& c : cases) {
    files.files[kPath] = std::string("<p><S><K>") + c.text + "</K></S></p>";
    ProfileStore store(kPath, files);
    EXPECT_EQ(store.ReadInt("S", "K", 55), c.expected) << c.text;
  }
}

TEST_F(ProfileStoreTest, WriteIntRoundTripsExtremes) {
  for (std::int32_t value : {-1, 0, INT32_MIN, INT32_MAX}) {
    Run("<p/>", [value](ProfileStore& s) { s.WriteInt("S", "K", value); });
    ProfileStore store(kPath, files);
    EXPECT_EQ(store.ReadInt("S", "K", 55), value);
  }
  EXPECT_NE(files.files[kPath].find("<K>2147483647</K>"), std::string::npos);
}

TEST_F(ProfileStoreTest, EmptyKeyGivesDefaultAndIsRemovedFromFile) {
  const char* profile =
      "<p>\r\n  <S>\r\n    <A></A>\r\n    <B/>\r\n    <C>  </C>\r\n    <D>4</D>\r\n  </S>\r\n</p>";
  const std::string out = Run(profile, [](ProfileStore& s) {
    EXPECT_EQ(s.ReadInt("S", "A", 11), 11);
    EXPECT_EQ(s.ReadString("S", "B", "dflt"), "dflt");
    EXPECT_EQ(s.ReadInt("S", "C", 13), 13);
    EXPECT_EQ(s.ReadInt("S", "D", 0), 4);
  });
  EXPECT_EQ(out, "<p>\r\n  <S>\r\n    <D>4</D>\r\n  </S>\r\n</p>");
  EXPECT_EQ(files.replaceCount, 1);
}

TEST_F(ProfileStoreTest, ProfileThatCannotBeParsedIsNeverOverwritten) {
  const char* broken = "<profile><Talvik_Q5_Pendant><Vel>4</Vel></profile>";
  files.files[kPath] = broken;
  {
    ProfileStore store(kPath, files);
    EXPECT_EQ(store.ReadInt(kSec, "Vel", 2), 2);
    store.WriteInt(kSec, "Vel", 9);
    EXPECT_FALSE(store.CloseProfile());
  }
  EXPECT_EQ(files.files[kPath], broken);
  EXPECT_EQ(files.replaceCount, 0);
}

TEST_F(ProfileStoreTest, ProfileThatCannotBeReadIsNeverOverwritten) {
  struct UnreadableFiles final : ProfileFiles {
    int replaceCount = 0;
    ReadResult ReadAll(const std::string&, std::string&) override { return ReadResult::Failed; }
    WriteResult ReplaceAll(const std::string&, const std::string&) override {
      ++replaceCount;
      return WriteResult::Ok;
    }
    std::string ToDocument(const std::string& t) override { return t; }
    std::string FromDocument(const std::string& t) override { return t; }
  } unreadable;
  {
    ProfileStore store(kPath, unreadable);
    EXPECT_EQ(store.ReadInt(kSec, "Vel", 2), 2);
    store.WriteInt(kSec, "Vel", 9);
  }
  EXPECT_EQ(unreadable.replaceCount, 0);
}

TEST_F(ProfileStoreTest, NamesThatAreNotElementNamesAreNeverWritten) {
  const std::string out = Run("<p/>", [](ProfileStore& s) {
    for (const char* bad : {"", "a b", "1a", "a<b", "a/", "-a"}) {
      s.WriteInt(bad, "K", 1);
      s.WriteString("S", bad, "v");
    }
    s.WriteInt(nullptr, "K", 1);
    s.WriteInt("S", nullptr, 1);
    EXPECT_EQ(s.ReadInt(nullptr, nullptr, 4), 4);
  });
  EXPECT_EQ(out, "<p/>");
}

TEST_F(ProfileStoreTest, EmptyPathReadsDefaultsAndWritesNothing) {
  ProfileStore store("", files);
  EXPECT_EQ(store.ReadString(kSec, "S1", "d"), "d");
  store.WriteInt(kSec, "Vel", 1);
  EXPECT_FALSE(store.CloseProfile());
  EXPECT_TRUE(files.files.empty());
}

TEST_F(ProfileStoreTest, FailedReplaceLeavesOldContentAndReportsIt) {
  files.files[kPath] = "<p><S><K>1</K></S></p>";
  files.failReplace = true;
  ProfileStore store(kPath, files);
  store.WriteInt("S", "K", 2);
  EXPECT_FALSE(store.CloseProfile());
  EXPECT_EQ(files.files[kPath], "<p><S><K>1</K></S></p>");
}

TEST_F(ProfileStoreTest, CloseSavesOnceAndLaterCallsDoNothing) {
  files.files[kPath] = "<p/>";
  {
    ProfileStore store(kPath, files);
    store.WriteInt("S", "K", 1);
    EXPECT_TRUE(store.CloseProfile());
    store.WriteInt("S", "K", 2);
    EXPECT_EQ(store.ReadInt("S", "K", 9), 9);
    EXPECT_FALSE(store.CloseProfile());
  }
  EXPECT_EQ(files.replaceCount, 1);
  EXPECT_EQ(files.files[kPath], "<p>\n\t<S>\n\t\t<K>1</K>\n\t</S>\n</p>");
}

// The work of SetProName, PostInitControl and Config closed with Esc must leave a host profile
// byte for byte as it was when the section already holds every key.
TEST_F(ProfileStoreTest, UnchangedLargeProfileIsWrittenBackByteIdentical) {
  std::string full;
  {
    // A complete section, produced by the store itself, inside a large profile.
    files.files[kPath] = HostProfile(500, true);
    ProfileStore store(kPath, files);
    PendantSettings settings;
    LoadSettings(store, settings, 2);
    SaveSettings(store, settings);
  }
  full = files.files[kPath];
  ASSERT_GT(full.size(), 300000u);
  for (const std::string& original : {full, "\xEF\xBB\xBF" + full, HostProfile(300, false)}) {
    files.files[kPath] = original;
    files.replaceCount = 0;
    Run(nullptr);
    Run(nullptr, [](ProfileStore& s) {
      PendantSettings settings;
      LoadSettings(s, settings, 0);
    });
    // Nothing changed: the file is not even replaced.
    EXPECT_EQ(files.replaceCount, 0);
    ASSERT_EQ(files.files[kPath], original);
  }
  // Config with Esc over the complete section.
  files.files[kPath] = full;
  Run(nullptr, [](ProfileStore& s) {
    PendantSettings settings;
    LoadSettings(s, settings, 2);
    SaveSettings(s, settings);
  });
  ASSERT_EQ(files.files[kPath], full);
}

TEST_F(ProfileStoreTest, ChangedSectionIsSplicedAndEverythingElseKept) {
  const std::string original = HostProfile(300, true);
  const std::string out = Run(original.c_str(), [](ProfileStore& s) {
    s.WriteInt(kSec, "Vel", 7);
    s.WriteInt(kSec, "NewKey", 8);
    EXPECT_EQ(s.ReadString(kSec, "S1", ""), "0.0001");
  });
  const std::string open = std::string("<") + kSec + ">";
  const std::string close = std::string("</") + kSec + ">";
  const std::size_t begin = original.find(open);
  const std::size_t end = original.find(close) + close.size();
  ASSERT_EQ(out.substr(0, begin), original.substr(0, begin));
  const std::string tail = original.substr(end);
  ASSERT_EQ(out.substr(out.size() - tail.size()), tail);
  EXPECT_EQ(
      out.substr(begin, out.size() - tail.size() - begin),
      open +
          "\r\n    <BUTTON0>1</BUTTON0>\r\n    <Vel>7</Vel>\r\n    <StepJogRate>1</StepJogRate>"
          "\r\n    <S1>0.0001</S1>\r\n    <NewKey>8</NewKey>\r\n  " +
          close);
}

TEST_F(ProfileStoreTest, NewSectionFollowsTheProfileLayout) {
  struct Case {
    const char* original;
    const char* expected;
  } cases[] = {
      {"<?xml version=\"1.0\"?>\r\n<p>\r\n\t<A>1</A>\r\n</p>\r\n",
       "<?xml "
       "version=\"1.0\"?>\r\n<p>\r\n\t<A>1</A>\r\n\t<S>\r\n\t\t<K>5</K>\r\n\t</S>\r\n</p>\r\n"},
      {"<p>\n  <A>1</A>\n</p>", "<p>\n  <A>1</A>\n  <S>\n    <K>5</K>\n  </S>\n</p>"},
      {"<p></p>", "<p>\n\t<S>\n\t\t<K>5</K>\n\t</S>\n</p>"},
      {"<p/>", "<p>\n\t<S>\n\t\t<K>5</K>\n\t</S>\n</p>"},
      {"<p><!--c--></p>", "<p><!--c--><S><K>5</K></S></p>"},
      {"<?xml version=\"1.0\"?>\r\n<!-- no root yet -->\r\n",
       "<?xml version=\"1.0\"?>\r\n<!-- no root yet -->\r\n<profile>\r\n\t<S>\r\n\t\t<K>5</K>"
       "\r\n\t</S>\r\n</profile>\r\n"},
  };
  for (const Case& c : cases) {
    files.files.clear();
    EXPECT_EQ(Run(c.original, [](ProfileStore& s) { s.WriteInt("S", "K", 5); }), c.expected)
        << c.original;
  }
}

TEST_F(ProfileStoreTest, SingleByteAndWideEncodingsKeepTheirEncoding) {
  // Latin-1 and windows-1252 files: texts reach the store as UTF-8 and go back as single bytes.
  struct Case {
    const char* encoding;
    std::string fileText;  // the byte in the file
    std::string utf8;      // the same character in UTF-8
  } cases[] = {
      {"ISO-8859-1", "\xE9", "\xC3\xA9"},
      {"windows-1252", "\x80", "\xE2\x82\xAC"},
  };
  for (const Case& c : cases) {
    const std::string original = std::string("<?xml version=\"1.0\" encoding=\"") + c.encoding +
                                 "\"?><p><Other>" + c.fileText + "</Other><S><T>" + c.fileText +
                                 "</T></S></p>";
    files.files.clear();
    const std::string out = Run(original.c_str(), [&](ProfileStore& s) {
      EXPECT_EQ(s.ReadString("S", "T", ""), c.utf8) << c.encoding;
      s.WriteString("S", "T", c.utf8 + "2");
    });
    std::string expected = original;
    expected.replace(expected.rfind(c.fileText), c.fileText.size(), c.fileText + "2");
    EXPECT_EQ(out, expected) << c.encoding;
  }

  // UTF-16 with BOM: saved whole by the XML library, still UTF-16, other content kept.
  std::string utf16 = "\xFF\xFE";
  for (char ch : std::string("<p><A>keep</A></p>")) {
    utf16 += ch;
    utf16 += '\0';
  }
  files.files[kPath] = utf16;
  Run(nullptr, [](ProfileStore& s) { s.WriteInt("S", "K", -3); });
  const std::string saved = files.files[kPath];
  ASSERT_GE(saved.size(), 2u);
  EXPECT_EQ(saved.substr(0, 2), "\xFF\xFE");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_buffer(saved.data(), saved.size()));
  EXPECT_STREQ(doc.child("p").child_value("A"), "keep");
  EXPECT_STREQ(doc.child("p").child("S").child_value("K"), "-3");
}

class PosixProfileFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/profile_store_testXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string dir;
};

TEST_F(PosixProfileFilesTest, ReplaceWritesWholeFileAndLeavesNoTemporary) {
  ProfileFiles& files = PosixProfileFilesInstance();
  const std::string path = dir + "/profile.xml";
  std::string bytes;
  EXPECT_EQ(files.ReadAll(path, bytes), ProfileFiles::ReadResult::Missing);
  EXPECT_EQ(files.ReadAll(dir, bytes), ProfileFiles::ReadResult::Failed);

  std::string big(200000, 'x');
  big[0] = '\0';
  constexpr auto kOk = ProfileFiles::WriteResult::Ok;
  ASSERT_EQ(files.ReplaceAll(path, big), kOk);
  ASSERT_EQ(files.ReplaceAll(path, "<p/>"), kOk);
  EXPECT_EQ(files.ReadAll(path, bytes), ProfileFiles::ReadResult::Ok);
  EXPECT_EQ(bytes, "<p/>");
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 1);

  // Through a symbolic link: the file it points at is replaced and the link stays.
  std::filesystem::create_symlink("profile.xml", dir + "/link.xml");
  ASSERT_EQ(files.ReplaceAll(dir + "/link.xml", "<q/>"), kOk);
  EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.xml"));
  EXPECT_EQ(files.ReadAll(path, bytes), ProfileFiles::ReadResult::Ok);
  EXPECT_EQ(bytes, "<q/>");
  std::filesystem::remove(dir + "/link.xml");

  // A folder that does not exist: nothing written, nothing left behind.
  EXPECT_EQ(files.ReplaceAll(dir + "/missing/profile.xml", "x"), ProfileFiles::WriteResult::Failed);
  // The target is a folder: refused before anything is written.
  std::filesystem::create_directory(dir + "/sub");
  EXPECT_EQ(files.ReplaceAll(dir + "/sub", "x"), ProfileFiles::WriteResult::NotAFile);
  entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 2);
}

TEST_F(PosixProfileFilesTest, StoreOverDiskFileRoundTrips) {
  const std::string path = dir + "/profile.xml";
  const std::string original = HostProfile(20, false, "\n");
  std::ofstream(path, std::ios::binary) << original;
  {
    ProfileStore store(path, PosixProfileFilesInstance());
    store.WriteString(kSec, "S1", "0.5");
  }
  ProfileStore store(path, PosixProfileFilesInstance());
  EXPECT_EQ(store.ReadString(kSec, "S1", ""), "0.5");
  EXPECT_EQ(store.ReadString("Section3", "Key4", ""), "97.25");
}

}  // namespace

TEST_F(ProfileStoreTest, UnusualMarkupOutsideTheSectionSurvivesASplice) {
  // Each profile holds "<S><K>1</K></S>"; writing K=2 must change exactly that and nothing else.
  const char* cases[] = {
      "<!DOCTYPE p [ <!ENTITY e \"v\"> <!-- a > b --> ]>\n<p><S><K>1</K></S></p>",
      "<p a='x > y' b=\"/>\"><q c='</p>'/><S><K>1</K></S><r><S><K>9</K></S></r></p>",
      "<p>text &amp; more<![CDATA[<S>]]><!-- <S> --><?pi <S>?><S><K>1</K></S>tail</p>",
      "<p><S><!--keep--><K>1</K><?pi?><X a=\"&quot;\"/></S></p>",
      "\xEF\xBB\xBF<p>\r\n<S><K>1</K></S>\n</p>\r\n",
  };
  for (const char* original : cases) {
    files.files.clear();
    std::string expected = original;
    const std::size_t key = expected.find("<K>1</K>");
    expected.replace(key, 8, "<K>2</K>");
    EXPECT_EQ(Run(original, [](ProfileStore& s) { s.WriteInt("S", "K", 2); }), expected)
        << original;
  }
}

TEST_F(ProfileStoreTest, FileThatIsNotXmlIsLeftAlone) {
  for (const char* original : {"hello", "<p>", "<p></q>", "<a/><b/>", "<p/>x"}) {
    files.files.clear();
    files.replaceCount = 0;
    EXPECT_EQ(Run(original, [](ProfileStore& s) { s.WriteInt("S", "K", 2); }), original);
    EXPECT_EQ(files.replaceCount, 0) << original;
  }
}
