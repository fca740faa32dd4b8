// Loading script files, wildcard imports, directives and native libraries, on real files.
#include "engine/loader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/script.h"
#include "platform/library.h"
#include "support/test_host.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder of script files, named the way scripts name paths (backslashes).
class ScriptFolder {
 public:
  ScriptFolder() {
    // Test cases may run as parallel processes: a random name keeps their folders apart.
    root_ = fs::temp_directory_path() / ("lumo-loader-" + std::to_string(std::random_device{}()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  ~ScriptFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  void write(const std::string& relative, const std::string& text) {
    fs::path file = root_ / fs::path(relative);
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }
  fs::path native() const { return root_; }
  // The folder as a script path, ending with a backslash.
  std::string path() const {
    std::string text = root_.string();
    for (char& c : text) {
      if (c == '/') c = '\\';
    }
    return text + "\\";
  }

 private:
  fs::path root_;
};

std::vector<std::string> module_names(Script* set) {
  std::vector<std::string> names;
  for (Script* module = set->next; module != nullptr; module = module->next)
    names.push_back(module->name);
  return names;
}

Script* module_named(Script* set, const char* name) {
  for (Script* module = set->next; module != nullptr; module = module->next) {
    if (std::string(module->name) == name) return module;
  }
  return nullptr;
}

class Loader : public ::testing::Test {
 protected:
  void SetUp() override { engine_start(); }
  ScriptFolder folder_;  // outlives the ScriptSet, which unloads the libraries
  TestHost host_;
  ScriptFixture scripts_{host_.host()};
  Script* set() { return scripts_.set(); }
};

}  // namespace

TEST_F(Loader, ModuleNameIsTheFileNameUpToItsFirstDot) {
  folder_.write("a.b.lum", "function f() { }");
  ASSERT_EQ(load_script_file(set(), folder_.path().c_str(), "a.b.lum"), 1);
  Script* module = set()->next;
  ASSERT_NE(module, nullptr);
  EXPECT_STREQ(module->name, "a");
  EXPECT_EQ(module->directory, folder_.path());
  EXPECT_EQ(module->root, set());
  EXPECT_EQ(module->host, host_.host());
  EXPECT_NE(module->functions, nullptr);
}

TEST_F(Loader, DirectoryGetsItsBackslashAndLoadsOnceIgnoringCase) {
  folder_.write("m.lum", "x = 1;");
  std::string without = folder_.path();
  without.pop_back();
  EXPECT_EQ(load_script_file(set(), without.c_str(), "m.lum"), 1);
  EXPECT_EQ(std::string(set()->next->directory), folder_.path());
  EXPECT_EQ(load_script_file(set(), folder_.path().c_str(), "M.LUM"), 1);
  EXPECT_EQ(module_names(set()), std::vector<std::string>{"m"});
}

TEST_F(Loader, WildcardImportLoadsEachFileOnceMainFirst) {
  // main imports everything, itself included; x and y import each other.
  folder_.write("main.lum", "#import(\"*.lum\")\n");
  folder_.write("x.lum", "#import(\"y.lum\")\nfunction fx() { }");
  folder_.write("y.lum", "#import(\"x.lum\")\nfunction fy() { }");
  folder_.write("notes.txt", "not a script");
  fs::create_directories(folder_.native() / "folder.lum");  // a directory is never loaded
  ASSERT_EQ(load_script_file(set(), folder_.path().c_str(), "main.lum"), 1);
  std::vector<std::string> names = module_names(set());
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "main");
  EXPECT_NE(module_named(set(), "x"), nullptr);
  EXPECT_NE(module_named(set(), "y"), nullptr);
  EXPECT_TRUE(host_.error_lines().empty());
}

TEST_F(Loader, SubfolderImportGivesTheSubfolderAsDirectory) {
  folder_.write("main.lum", "#import(\"sub\\*.lum\")\n");
  folder_.write("sub/inner.lum", "function f() { }");
  ASSERT_EQ(load_script_file(set(), folder_.path().c_str(), "main.lum"), 1);
  Script* inner = module_named(set(), "inner");
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(std::string(inner->directory), folder_.path() + "sub\\");
}

TEST_F(Loader, ImportWithoutMatchesOrTooLongIsSilent) {
  EXPECT_EQ(import_scripts(set(), folder_.path().c_str(), "none*.lum"), 0);
  std::string long_pattern(300, 'p');
  EXPECT_EQ(import_scripts(set(), folder_.path().c_str(), long_pattern.c_str()), 0);
  EXPECT_EQ(set()->next, nullptr);
  EXPECT_TRUE(host_.error_lines().empty());
}

TEST_F(Loader, EmptyFileLoadsWithoutTextOrCode) {
  folder_.write("empty.lum", "");
  EXPECT_EQ(load_script_file(set(), folder_.path().c_str(), "empty.lum"), 1);
  ASSERT_NE(set()->next, nullptr);
  EXPECT_EQ(set()->next->text, nullptr);
  EXPECT_EQ(set()->next->code, nullptr);
  EXPECT_TRUE(host_.error_lines().empty());
}

TEST_F(Loader, UnreadableFilesReportTheirPathAndStayWithoutText) {
  fs::create_directories(folder_.native() / "dir.lum");
  EXPECT_EQ(load_script_file(set(), folder_.path().c_str(), "missing.lum"), 0);
  EXPECT_EQ(load_script_file(set(), folder_.path().c_str(), "dir.lum"), 0);
  EXPECT_EQ(module_names(set()), (std::vector<std::string>{"missing", "dir"}));
  EXPECT_EQ(set()->next->text, nullptr);
  EXPECT_EQ(host_.error_lines(),
            (std::vector<std::string>{
                "### Error: File open error : missing : " + folder_.path() + "missing.lum",
                "### Error: File open error : dir : " + folder_.path() + "dir.lum"}));
}

TEST_F(Loader, TooLongPathIsReportedWithoutOverrunningTheBuffer) {
  std::string directory = "C:\\" + std::string(250, 'd') + "\\";
  EXPECT_EQ(load_script_file(set(), directory.c_str(), "long.lum"), 0);
  ASSERT_EQ(host_.error_lines().size(), 1u);
  EXPECT_EQ(host_.error_lines()[0],
            "### Error: File open error : long : " + directory + "long.lum");
}

TEST_F(Loader, ParseFailureStillLoadsTheModuleWithoutCodeOrFunctions) {
  folder_.write("bad.lum", "function ok() { }\nfunction broken( {");
  EXPECT_EQ(load_script_file(set(), folder_.path().c_str(), "bad.lum"), 1);
  ASSERT_NE(set()->next, nullptr);
  EXPECT_EQ(set()->next->code, nullptr);
  EXPECT_EQ(set()->next->functions, nullptr);
  EXPECT_EQ(host_.error_lines().size(), 1u);
}

TEST_F(Loader, OptionDirectiveAndKeywordPrefixes) {
  folder_.write("strict.lum", "#option(strict)\nx = 1;");
  folder_.write("explicit.lum", "#OPTION( \"Explicit\" )\nvar x;");
  folder_.write("prefix.lum", "#importer(\"strict.lum\")\n#Import(explicit.lum)\n");
  ASSERT_EQ(load_script_file(set(), folder_.path().c_str(), "prefix.lum"), 1);
  ASSERT_EQ(module_names(set()), (std::vector<std::string>{"prefix", "strict", "explicit"}));
  EXPECT_EQ(module_named(set(), "strict")->is_explicit, 0);
  EXPECT_EQ(module_named(set(), "explicit")->is_explicit, 1);
  EXPECT_TRUE(host_.error_lines().empty());
}

TEST_F(Loader, MissingLibraryIsReportedAndKeepsAnEntryWithoutHandle) {
  Script* module = scripts_.add_module("m");
  EXPECT_EQ(load_library(module, folder_.path().c_str(), "nosuch.dll"), 0);
  EXPECT_EQ(load_library(module, "", "nosuch.dll"), 0);
  ASSERT_NE(set()->libraries, nullptr);
  EXPECT_EQ(set()->libraries->handle, nullptr);
  ASSERT_NE(set()->libraries->next, nullptr);
  EXPECT_EQ(host_.error_lines(),
            (std::vector<std::string>(2, "### Error: Library load error : m : nosuch.dll")));
}

TEST_F(Loader, LibraryOnlyInTheScriptFolderLoadsOnTheSecondAttempt) {
  // The example extension, copied under the Windows name's stem into a folder of its own.
  fs::path built(LUMO_EXAMPLE_EXTENSION);
  fs::copy_file(built, folder_.native() / ("lumoext_copy" + built.extension().string()));
  folder_.write("main.lum", "#library(\"lumoext_copy.dll\")\n#library(\"lumoext_copy.dll\")\n");
  ASSERT_EQ(load_script_file(set(), folder_.path().c_str(), "main.lum"), 1);
  EXPECT_TRUE(host_.error_lines().empty());
  // No duplicate check: two entries.
  ASSERT_NE(set()->libraries, nullptr);
  ASSERT_NE(set()->libraries->next, nullptr);
  EXPECT_NE(find_export(set()->libraries->handle, "_sfunc_ext_add"), nullptr);
  EXPECT_NE(find_export(set()->libraries->next->handle, "_sfunc_ext_greet"), nullptr);
}
