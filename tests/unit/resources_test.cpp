// The icon group and manifest, read back out of the built launcher.exe.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/harness.h"

using namespace testing_support;

namespace {

#pragma pack(push, 2)
struct GroupIconHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE colorCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

// launcher.exe loaded as data, freed at the end of the scope.
struct DataModule {
  HMODULE module = LoadLibraryExA(LauncherExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  DataModule() = default;
  DataModule(const DataModule&) = delete;
  DataModule& operator=(const DataModule&) = delete;
  ~DataModule() {
    if (module) FreeLibrary(module);
  }
  std::string Resource(LPCSTR name, LPCSTR type) const {
    HRSRC info = FindResourceA(module, name, type);
    if (!info) return std::string();
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, info)));
    return bytes ? std::string(bytes, SizeofResource(module, info)) : std::string();
  }
};

}  // namespace

TEST(Resources, IconGroupHoldsFour256ColourImages) {
  DataModule exe;
  ASSERT_NE(nullptr, exe.module);
  const std::string group = exe.Resource("IDI_MAIN_ICON", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_GE(group.size(), sizeof(GroupIconHeader));
  const auto* header = reinterpret_cast<const GroupIconHeader*>(group.data());
  ASSERT_EQ(1, header->type);
  ASSERT_EQ(4, header->count);
  ASSERT_EQ(sizeof(GroupIconHeader) + 4 * sizeof(GroupIconEntry), group.size());
  const auto* entries = reinterpret_cast<const GroupIconEntry*>(group.data() + sizeof(GroupIconHeader));
  const int sizes[] = {64, 32, 24, 16};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(sizes[i], entries[i].width);
    EXPECT_EQ(sizes[i], entries[i].height);
    EXPECT_EQ(8, entries[i].bitCount);
    EXPECT_EQ(i + 1, entries[i].id);
    const std::string image = exe.Resource(MAKEINTRESOURCEA(entries[i].id), MAKEINTRESOURCEA(3));  // RT_ICON
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    const auto* bitmap = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
    EXPECT_EQ(sizes[i], bitmap->biWidth);
    EXPECT_EQ(2 * sizes[i], bitmap->biHeight) << "colour and mask rows";
    EXPECT_EQ(8, bitmap->biBitCount);
  }
}

TEST(Resources, ManifestIsAnEmptyAssembly) {
  DataModule exe;
  ASSERT_NE(nullptr, exe.module);
  const std::string manifest = exe.Resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  EXPECT_NE(std::string::npos,
            manifest.find("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"));
  EXPECT_NE(std::string::npos, manifest.find("</assembly>"));
  for (const char* absent : {"requestedExecutionLevel", "dependency", "trustInfo", "<application"}) {
    EXPECT_EQ(std::string::npos, manifest.find(absent)) << absent;
  }
}
