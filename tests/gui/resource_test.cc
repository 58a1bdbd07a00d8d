// The resources of the built Ledgerly.exe, read back from the file the way
// Windows reads them: version block, string table, icon group, manifest;
// and the file's own form: a GUI program needing no runtime DLLs.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ledgerly_version.h"
#include "tests/test_streams.h"

namespace {

const WORD english_us = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The program's path, with backslashes, which LoadLibraryExA needs.
std::string program_path() {
  const char* given = std::getenv("LEDGERLY_EXE");
  std::string path = given ? given : "";
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

// The program's file loaded as data, released with the object.
struct ProgramResources {
  HMODULE module = LoadLibraryExA(program_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ~ProgramResources() {
    if (module) FreeLibrary(module);
  }
  // The bytes of resource `name` of `type` in `language`; empty when absent.
  std::string bytes(LPCSTR type, LPCSTR name, WORD language) const {
    HRSRC found = FindResourceExA(module, type, name, language);
    if (!found) return "";
    HGLOBAL loaded = LoadResource(module, found);
    const char* data = static_cast<const char*>(LockResource(loaded));
    return data ? std::string(data, SizeofResource(module, found)) : "";
  }
};

BOOL CALLBACK count_name(HMODULE, LPCSTR, LPSTR name, LONG_PTR names) {
  reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(reinterpret_cast<ULONG_PTR>(name));
  return TRUE;
}

BOOL CALLBACK count_language(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

std::vector<ULONG_PTR> resource_names(HMODULE module, LPCSTR type) {
  std::vector<ULONG_PTR> names;
  EnumResourceNamesA(module, type, count_name, reinterpret_cast<LONG_PTR>(&names));
  return names;
}

std::vector<WORD> resource_languages(HMODULE module, LPCSTR type, LPCSTR name) {
  std::vector<WORD> languages;
  EnumResourceLanguagesA(module, type, name, count_language,
                         reinterpret_cast<LONG_PTR>(&languages));
  return languages;
}

// The keys of the children of one node of a version block, in their order,
// found by the path of keys below the root.
std::vector<std::string> version_keys(const std::string& block, std::vector<std::string> path) {
  size_t node = 0;
  size_t node_end = block.size();
  auto word = [&](size_t at) {
    return at + 2 <= block.size() ? static_cast<unsigned char>(block[at]) |
                                        static_cast<unsigned char>(block[at + 1]) << 8
                                  : 0;
  };
  auto align = [](size_t at) { return (at + 3) & ~size_t{3}; };
  // Where the key ends and the children begin.
  auto children_of = [&](size_t at, std::string& key) {
    size_t value_length = word(at + 2);
    bool text = word(at + 4) == 1;
    key.clear();
    size_t i = at + 6;
    for (; word(i) != 0 && i < block.size(); i += 2) key += static_cast<char>(word(i));
    size_t value = align(i + 2);
    return align(value + (text ? value_length * 2 : value_length));
  };
  std::string key;
  size_t child = children_of(node, key);
  std::vector<std::string> keys;
  while (true) {
    keys.clear();
    size_t found = 0;
    std::string wanted = path.empty() ? "" : path.front();
    for (size_t at = child; at < node_end && word(at) > 0; at = align(at + word(at))) {
      std::string child_key;
      children_of(at, child_key);
      keys.push_back(child_key);
      if (!wanted.empty() && child_key == wanted && !found) found = at;
    }
    if (path.empty()) return keys;
    if (!found) return {};
    path.erase(path.begin());
    node = found;
    node_end = node + word(node);
    child = children_of(node, key);
  }
}

TEST(Resources, TheFileIsAStaticGUIProgram) {
  std::string file = file_bytes(program_path());
  ASSERT_GT(file.size(), 0x200u) << program_path();
  size_t pe = *reinterpret_cast<const DWORD*>(&file[0x3c]);
  ASSERT_EQ(file.substr(pe, 4), std::string("PE\0\0", 4));
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS64*>(&file[pe]);
  EXPECT_EQ(headers->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  EXPECT_EQ(program_path().substr(program_path().find_last_of("\\/") + 1), "Ledgerly.exe");
  // Linked statically: no DLL of the compiler's runtime is needed.
  for (const char* runtime : {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll"}) {
    EXPECT_EQ(file.find(runtime), std::string::npos) << runtime;
  }
}

TEST(Resources, VersionBlock) {
  std::string path = program_path();
  DWORD unused = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &unused);
  ASSERT_GT(size, 0u);
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  // The numbers of the version header; the version the programs show is
  // their start.
  const DWORD version_ms = LEDGERLY_VERSION_MAJOR << 16 | LEDGERLY_VERSION_MINOR;
  const DWORD version_ls = LEDGERLY_VERSION_PATCH << 16;
  const std::string version_text = std::to_string(LEDGERLY_VERSION_MAJOR) + "." +
                                   std::to_string(LEDGERLY_VERSION_MINOR) + "." +
                                   std::to_string(LEDGERLY_VERSION_PATCH) + ".0";
  EXPECT_EQ(version_text.rfind(LEDGERLY_VERSION, 0), 0u) << version_text;
  EXPECT_EQ(fixed->dwFileVersionMS, version_ms);
  EXPECT_EQ(fixed->dwFileVersionLS, version_ls);
  EXPECT_EQ(fixed->dwProductVersionMS, version_ms);
  EXPECT_EQ(fixed->dwProductVersionLS, version_ls);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, 0x40004u);
  EXPECT_EQ(fixed->dwFileType, DWORD{VFT_APP});
  EXPECT_EQ(fixed->dwFileSubtype, 0u);
  EXPECT_EQ(fixed->dwFileDateMS, 0u);
  EXPECT_EQ(fixed->dwFileDateLS, 0u);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 0x04B0);

  struct Entry {
    const char* key;
    const char* value;  // null: any text naming the Ledgerly authors
  } entries[] = {
      {"CompanyName", nullptr},
      {"FileDescription", "Ledgerly"},
      {"FileVersion", version_text.c_str()},
      {"InternalName", "Ledgerly"},
      {"LegalCopyright", nullptr},
      {"OriginalFilename", "Ledgerly.exe"},
      {"ProductName", "Ledgerly"},
      {"ProductVersion", version_text.c_str()},
  };
  std::vector<std::string> expected_keys;
  for (const Entry& entry : entries) {
    expected_keys.push_back(entry.key);
    std::string query = std::string("\\StringFileInfo\\080904b0\\") + entry.key;
    char* value = nullptr;
    ASSERT_TRUE(
        VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        << entry.key;
    if (entry.value) {
      EXPECT_STREQ(value, entry.value) << entry.key;
    } else {
      EXPECT_NE(std::strstr(value, "Ledgerly authors"), nullptr) << entry.key << ": " << value;
    }
  }
  // The order of the entries, from the block as stored in the file.
  ProgramResources resources;
  std::string block = resources.bytes(RT_VERSION, MAKEINTRESOURCEA(1), english_us);
  ASSERT_FALSE(block.empty());
  EXPECT_EQ(version_keys(block, {}), (std::vector<std::string>{"StringFileInfo", "VarFileInfo"}));
  EXPECT_EQ(version_keys(block, {"StringFileInfo"}), std::vector<std::string>{"080904b0"});
  EXPECT_EQ(version_keys(block, {"StringFileInfo", "080904b0"}), expected_keys);
}

TEST(Resources, StringTable) {
  ProgramResources resources;
  ASSERT_NE(resources.module, nullptr) << program_path();
  struct Case {
    int id;
    const char* text;
  } cases[] = {
      {1015, "About this program..."},
      {1017, "Ledgerly"},
      {1018, "Can't open spreadsheet because it has not been converted."},
      {1019, "Did not specify input ADIF file."},
      {1020, "Could not start web browser."},
      {1021, "Did not specify outpu CSV file."},
      {1022, "Could not open ADIF input file."},
      {1023, "Could not open CSV output file."},
      {1025, "Output CSV file is the same as the input ADIF file."},
      {1026, "Could not write CSV output file."},
      {1027, "Excel Workbook (*.xlsx)"},
      {1028, "Converted %0d ADIF records to CSV format"},
      {1029, "Converted %0d ADIF records to an Excel workbook"},
      {1030, "The input file is not an ADIF or ADX log."},
      {1031, "Could not read ADIF input file."},
      {1032, "The ADIF file changed while it was converted. Try again."},
      {1033, "Not enough memory to convert the ADIF file."},
      {1034, "The log has more columns than a workbook can hold (16,384)."},
      {1035, "Could not open ADX input file."},
      {1036, "Could not open workbook output file."},
      {1037, "Output CSV file is the same as the input ADX file."},
      {1038, "Output workbook file is the same as the input ADIF file."},
      {1039, "Output workbook file is the same as the input ADX file."},
      {1040, "Could not write workbook output file."},
      {1041, "Could not read ADX input file."},
      {1042, "The ADX file changed while it was converted. Try again."},
      {1043, "Not enough memory to convert the ADX file."},
      {1044, "The output file is an ADIF or ADX log; it was kept."},
  };
  for (const Case& c : cases) {
    // Read whole: the program loads each into 80 bytes, so it must fit 79.
    char text[256] = "";
    LoadStringA(resources.module, c.id, text, sizeof text);
    EXPECT_STREQ(text, c.text) << c.id;
    EXPECT_LT(std::strlen(text), 80u) << c.id;
  }
  char notice[256] = "";
  LoadStringA(resources.module, 1016, notice, sizeof notice);
  EXPECT_NE(std::strstr(notice, "the Ledgerly authors"), nullptr) << notice;
  EXPECT_LT(std::strlen(notice), 80u);
  EXPECT_EQ(std::strchr(notice, '\n'), nullptr);
  char address[256] = "";
  LoadStringA(resources.module, 1024, address, sizeof address);
  EXPECT_EQ(std::string(address).substr(0, 8), "https://") << address;
  EXPECT_LT(std::strlen(address), 80u);
  // Strings 1008 to 1023 and 1024 to 1039 form two blocks, in US English.
  for (int block : {1015 / 16 + 1, 1024 / 16 + 1}) {
    EXPECT_FALSE(resources.bytes(RT_STRING, MAKEINTRESOURCEA(block), english_us).empty()) << block;
  }
}

TEST(Resources, IconGroupOfTwoSixteenColourImages) {
  ProgramResources resources;
  ASSERT_NE(resources.module, nullptr);
  EXPECT_EQ(resource_names(resources.module, RT_GROUP_ICON), std::vector<ULONG_PTR>{1014});
  std::string group = resources.bytes(RT_GROUP_ICON, MAKEINTRESOURCEA(1014), english_us);
  ASSERT_EQ(group.size(), 6u + 2 * 14);
  const auto* words = reinterpret_cast<const WORD*>(group.data());
  EXPECT_EQ(words[0], 0);  // reserved
  EXPECT_EQ(words[1], 1);  // icons
  ASSERT_EQ(words[2], 2);  // images
  struct Image {
    int size;
    WORD id;
  } images[] = {{32, 1}, {16, 2}};
  for (int i = 0; i < 2; ++i) {
    const unsigned char* entry = reinterpret_cast<const unsigned char*>(group.data()) + 6 + 14 * i;
    SCOPED_TRACE(images[i].size);
    EXPECT_EQ(entry[0], images[i].size);     // width
    EXPECT_EQ(entry[1], images[i].size);     // height
    EXPECT_EQ(entry[2], 16);                 // colours
    EXPECT_EQ(entry[4] | entry[5] << 8, 1);  // planes
    EXPECT_EQ(entry[6] | entry[7] << 8, 4);  // bits per pixel
    WORD id = entry[12] | entry[13] << 8;
    EXPECT_EQ(id, images[i].id);
    std::string image = resources.bytes(RT_ICON, MAKEINTRESOURCEA(id), english_us);
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
    EXPECT_EQ(header->biWidth, images[i].size);
    EXPECT_EQ(header->biHeight, 2 * images[i].size);  // colours and mask
    EXPECT_EQ(header->biBitCount, 4);
  }
  // The window class takes icon 0 of the file: this group.
  HICON icon = ExtractIconA(GetModuleHandleA(nullptr), program_path().c_str(), 0);
  EXPECT_NE(icon, nullptr);
  if (icon) DestroyIcon(icon);
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(
                ExtractIconA(GetModuleHandleA(nullptr), program_path().c_str(), UINT(-1))),
            1u);
}

TEST(Resources, ManifestAsInvokerForVistaToTen) {
  ProgramResources resources;
  ASSERT_NE(resources.module, nullptr);
  EXPECT_EQ(resource_names(resources.module, RT_MANIFEST), std::vector<ULONG_PTR>{1});
  EXPECT_EQ(resource_languages(resources.module, RT_MANIFEST, MAKEINTRESOURCEA(1)),
            std::vector<WORD>{0});
  std::string manifest = resources.bytes(RT_MANIFEST, MAKEINTRESOURCEA(1), 0);
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("manifestVersion=\"1.0\""), std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  const char* systems[] = {
      "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
      "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
      "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10
  };
  size_t at = 0;
  for (const char* system : systems) {
    size_t found = manifest.find(system, at);
    EXPECT_NE(found, std::string::npos) << system << " missing or out of order";
    if (found != std::string::npos) at = found;
  }
  size_t entries = 0;
  for (size_t i = manifest.find("supportedOS"); i != std::string::npos;
       i = manifest.find("supportedOS", i + 1)) {
    ++entries;
  }
  EXPECT_EQ(entries, 5u);
  for (const char* absent : {"dependentAssembly", "dpiAware", "dpiAwareness"}) {
    EXPECT_EQ(manifest.find(absent), std::string::npos) << absent;
  }
}

}  // namespace
