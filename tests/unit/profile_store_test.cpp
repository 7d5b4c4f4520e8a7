#include "settings/profile_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <pugixml.hpp>
#include <sstream>

#include "host_windows/module.h"
#include "host_windows/show_config_dialog.h"
#include "platform/sim/posix_profile_files.h"
#include "settings/config_dialog.h"
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

namespace {

// Another program saves the profile while a store is open (the dialog is up): its change is kept
// and ours is spliced into the file as it is now; a file it left unparseable is not written.
TEST_F(ProfileStoreTest, SaveSplicesIntoTheFileAsItIsAtSaveTime) {
  files.files[kPath] = "<p>\n  <Host>1</Host>\n  <S>\n    <K>1</K>\n  </S>\n</p>\n";
  files.changeOnRead = 2;  // the save's read
  files.change = [this] {
    files.files[kPath] = "<p>\n  <Host>2</Host>\n  <S>\n    <K>1</K>\n    <E></E>\n  </S>\n</p>\n";
  };
  {
    ProfileStore store(kPath, files);
    EXPECT_EQ(store.ReadInt("S", "E", 7), 7);  // not there yet
    store.WriteInt("S", "K", 2);
    EXPECT_TRUE(store.CloseProfile());
  }
  EXPECT_EQ(files.files[kPath],
            "<p>\n  <Host>2</Host>\n  <S>\n    <K>2</K>\n    <E/>\n  </S>\n</p>\n");

  for (const char* broken : {"<p><Host>3</Host>", "<a/><b/>"}) {
    files.files[kPath] = "<p><S><K>1</K></S></p>";
    files.readCount = 0;
    files.change = [this, broken] { files.files[kPath] = broken; };
    ProfileStore store(kPath, files);
    store.WriteInt("S", "K", 2);
    EXPECT_FALSE(store.CloseProfile());
    EXPECT_NE(store.SaveFailure().find("not well-formed XML"), std::string::npos);
    EXPECT_EQ(files.files[kPath], broken);
  }
  // An empty key the store removed is removed from the new content too.
  files.files[kPath] = "<p><S><E/></S></p>";
  files.readCount = 0;
  files.change = [this] { files.files[kPath] = "<p><X/><S><E/></S></p>"; };
  Run(nullptr, [](ProfileStore& s) { EXPECT_EQ(s.ReadInt("S", "E", 3), 3); });
  EXPECT_EQ(files.files[kPath], "<p><X/><S/></p>");
}

// Whatever the declared encoding, no byte it cannot hold reaches the file: characters beyond it
// become references, text that is not text never arrives raw, and every value survives.
TEST_F(ProfileStoreTest, EveryCharacterSurvivesInTheDeclaredEncoding) {
  struct Case {
    const char* declaration;
    std::string value;
    std::string written;  // inside <T>...</T>
    std::string readBack;
  } cases[] = {
      {"US-ASCII", "\xC3\xA9", "&#xE9;", "\xC3\xA9"},
      {"ISO-8859-1", "5 \xE2\x82\xAC", "5 &#x20AC;", "5 \xE2\x82\xAC"},
      {"ISO-8859-1", "\xC3\xA9", "\xE9", "\xC3\xA9"},
      {"windows-1252", "\xE2\x82\xAC \xF0\x9F\x98\x80", "\x80 &#x1F600;",
       "\xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"UTF-8",
       "a\xFF"
       "b\xEF\xBF\xBE\xEF\xBF\xBF",
       "a\xEF\xBF\xBD"
       "b",
       "a\xEF\xBF\xBD"
       "b"},
      {"UTF-8", "x\r\ny<&>", "x&#xD;\ny&lt;&amp;&gt;", "x\r\ny<&>"},
  };
  for (const Case& c : cases) {
    files.files.clear();
    const std::string head =
        std::string("<?xml version=\"1.0\" encoding=\"") + c.declaration + "\"?>";
    const std::string out =
        Run((head + "<p><S><T/><U>0</U></S></p>").c_str(), [&](ProfileStore& s) {
          s.WriteString("S", "T", c.value);
          s.WriteInt("S", "U", 1);  // saved along, whatever T holds
        });
    EXPECT_EQ(out, head + "<p><S><T>" + c.written + "</T><U>1</U></S></p>") << c.declaration;
    ProfileStore store(kPath, files);
    EXPECT_EQ(store.ReadString("S", "T", ""), c.readBack) << c.declaration;
  }
  // A reference already in the section does not stop later saves, and stays a reference.
  const char* latin =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><p><S><T>&#x20AC;</T><U/></S></p>";
  EXPECT_EQ(Run(latin,
                [](ProfileStore& s) {
                  EXPECT_EQ(s.ReadString("S", "T", ""), "\xE2\x82\xAC");
                  s.WriteInt("S", "U", 4);
                }),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><p><S><T>&#x20AC;</T><U>4</U></S></p>");
}

// References to entities the file declares itself go back as they were, in a spliced section and
// in a wide file alike; quotes inside the internal subset's comments and instructions end nothing.
TEST_F(ProfileStoreTest, DeclaredEntitiesAndTheInternalSubsetSurvive) {
  const std::string doctype =
      "<!DOCTYPE p [ <!ENTITY pitch \"1.5\"> <!-- don't --> <?pi a \"quote?> ]>\n";
  const std::string original = doctype + "<p a='&pitch;'><S q='\"'><P>&pitch;</P><K>1</K></S></p>";
  const std::string out = Run(original.c_str(), [](ProfileStore& s) {
    EXPECT_EQ(s.ReadString("S", "P", ""), "&pitch;");
    s.WriteInt("S", "K", 2);
  });
  EXPECT_EQ(out, doctype + "<p a='&pitch;'><S q=\"&quot;\"><P>&pitch;</P><K>2</K></S></p>");

  std::string utf16 = "\xFF\xFE";
  for (char ch : doctype + "<p><A>&pitch;</A></p>") {
    utf16 += ch;
    utf16 += '\0';
  }
  files.files[kPath] = utf16;
  Run(nullptr, [](ProfileStore& s) { s.WriteInt("S", "K", -3); });
  std::string expected = "\xFF\xFE";
  for (char ch : doctype + "<p><A>&pitch;</A><S><K>-3</K></S></p>") {
    expected += ch;
    expected += '\0';
  }
  EXPECT_EQ(files.files[kPath], expected);
}

// A UTF-16 profile that holds only a comment gets its root and settings like a UTF-8 one.
TEST_F(ProfileStoreTest, WideProfileWithoutRootGetsOne) {
  std::string utf16 = "\xFF\xFE";
  for (char ch : std::string("<!-- host -->\r\n")) {
    utf16 += ch;
    utf16 += '\0';
  }
  files.files[kPath] = utf16;
  Run(nullptr, [](ProfileStore& s) { s.WriteInt("S", "K", 5); });
  ProfileStore store(kPath, files);
  EXPECT_EQ(store.ReadInt("S", "K", 0), 5);
  const std::string saved = files.files[kPath];
  EXPECT_EQ(saved.substr(0, utf16.size()), utf16);
}

// Config: a save that fails tells the operator, in a message box, that and why.
TEST(ConfigSave, FailedSaveIsShownToTheOperator) {
  struct Case {
    const char* profile;  // nullptr: the replacement fails
    const char* reason;
  } cases[] = {
      {"<profile><Talvik_Q5_Pendant>", "not well-formed XML"},
      {nullptr, "could not be written"},
      {"<profile/>", nullptr},
  };
  for (const Case& c : cases) {
    FakePlatform platform;
    Module module(platform);
    module.profilePath = "/p/profile.xml";
    platform.files.files[module.profilePath] = c.profile ? c.profile : "<profile/>";
    platform.files.failReplace = c.profile == nullptr;
    {
      ProfileStore store(module.profilePath, platform.files);
      ShowConfigDialog(module, store);
    }
    if (c.reason == nullptr) {
      EXPECT_TRUE(platform.messages.empty());
      continue;
    }
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].rfind("The pendant settings were not saved. ", 0), 0u);
    EXPECT_NE(platform.messages[0].find(c.reason), std::string::npos) << platform.messages[0];
  }
}

// Files the operator protected or that are not files at all are never replaced, and reading a
// pipe does not wait for a writer.
TEST_F(PosixProfileFilesTest, ProtectedAndSpecialPathsAreRefused) {
  ProfileFiles& files = PosixProfileFilesInstance();
  const std::string path = dir + "/profile.xml";
  std::ofstream(path) << "<p/>";
  std::filesystem::permissions(
      path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  {
    ProfileStore store(path, files);
    store.WriteInt("S", "K", 1);
    EXPECT_FALSE(store.CloseProfile());
    EXPECT_NE(store.SaveFailure().find("read-only"), std::string::npos);
  }
  std::string bytes;
  EXPECT_EQ(files.ReadAll(path, bytes), ProfileFiles::ReadResult::Ok);
  EXPECT_EQ(bytes, "<p/>");

  const std::string fifo = dir + "/fifo.xml";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(files.ReadAll(fifo, bytes), ProfileFiles::ReadResult::Failed);
  EXPECT_EQ(files.ReplaceAll(fifo, "<p/>"), ProfileFiles::WriteResult::NotAFile);
  EXPECT_EQ(files.ReadAll("/dev/zero", bytes), ProfileFiles::ReadResult::Failed);

  // A profile whose folder is not there (or is a file) cannot be created: the operator is told
  // that, not that the file could not be read, and nothing is written.
  for (const std::string& orphan : {dir + "/gone/profile.xml", path + "/profile.xml"}) {
    EXPECT_EQ(files.ReadAll(orphan, bytes), ProfileFiles::ReadResult::NoFolder) << orphan;
    ProfileStore store(orphan, files);
    store.WriteInt("S", "K", 1);
    EXPECT_FALSE(store.CloseProfile());
    EXPECT_NE(store.SaveFailure().find("folder does not exist"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/gone"));

  // A dangling link stays a link; the file appears where it points.
  const std::string link = dir + "/link.xml";
  std::filesystem::create_symlink("sub/target.xml", link);
  std::filesystem::create_directory(dir + "/sub");
  ASSERT_EQ(files.ReplaceAll(link, "<q/>"), ProfileFiles::WriteResult::Ok);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(files.ReadAll(dir + "/sub/target.xml", bytes), ProfileFiles::ReadResult::Ok);
  EXPECT_EQ(bytes, "<q/>");
}

// A save killed at any moment leaves the old or the new profile and at most the one temporary
// file, which the next save takes over and removes.
TEST_F(PosixProfileFilesTest, KilledSavesLeaveOldOrNewAndOneTemporaryAtMost) {
  const std::string path = dir + "/profile.xml";
  const std::string oldContent = HostProfile(40, true, "\r\n");
  std::ofstream(path, std::ios::binary) << oldContent;
  std::string newContent;
  {
    MemoryProfileFiles memory;
    memory.files[path] = oldContent;
    ProfileStore store(path, memory);
    store.WriteString(kSec, "S1", "0.5");
    store.CloseProfile();
    newContent = memory.files[path];
  }
  for (int round = 0; round < 60; ++round) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << oldContent;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ProfileStore store(path, PosixProfileFilesInstance());
      store.WriteString(kSec, "S1", "0.5");
      store.CloseProfile();
      _exit(0);
    }
    usleep(static_cast<useconds_t>((round * 37) % 900));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::string bytes;
    ASSERT_EQ(PosixProfileFilesInstance().ReadAll(path, bytes), ProfileFiles::ReadResult::Ok);
    ASSERT_TRUE(bytes == oldContent || bytes == newContent) << round;
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++entries;
    ASSERT_LE(entries, 2) << round;
  }
  // The next save removes what a kill left.
  ProfileStore store(path, PosixProfileFilesInstance());
  store.WriteString(kSec, "S1", "0.25");
  EXPECT_TRUE(store.CloseProfile());
  EXPECT_FALSE(std::filesystem::exists(PosixTemporaryPath(path)));
}

}  // namespace
