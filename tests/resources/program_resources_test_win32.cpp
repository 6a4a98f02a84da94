// The resources of resources/program.rc as Windows reads them from the executable: the icon in
// its sizes, the About picture, the version block and the manifest.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

std::string module_path() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

TEST(ProgramResources, IconInEverySizeAndTheAboutPicture) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  for (int size : {16, 32, 48}) {
    HANDLE icon = LoadImageA(self, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, size, size, 0);
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info));
    BITMAP colour{};
    ASSERT_NE(GetObjectA(info.hbmColor, sizeof colour, &colour), 0);
    EXPECT_EQ(colour.bmWidth, size);
    EXPECT_EQ(colour.bmHeight, size);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(static_cast<HICON>(icon));
  }
  HBITMAP about = LoadBitmapA(self, MAKEINTRESOURCEA(IDB_ABOUT));
  ASSERT_NE(about, nullptr);
  BITMAP picture{};
  ASSERT_NE(GetObjectA(about, sizeof picture, &picture), 0);
  EXPECT_EQ(picture.bmWidth, 96);
  EXPECT_EQ(picture.bmHeight, 64);
  // Not a blank picture: the corner (background) and the centre (the chip) differ.
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, about);
  EXPECT_NE(GetPixel(dc, 1, 1), GetPixel(dc, 48, 50));
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(about);
}

TEST(ProgramResources, VersionBlockSaysThreePointZeroThree) {
  const std::string path = module_path();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00030003u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00030003u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  auto text = [&](const char* name) {
    char* value = nullptr;
    UINT chars = 0;
    const std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars))
      return std::string("<missing>");
    return std::string(value);
  };
  EXPECT_EQ(text("FileVersion"), "3.03");
  EXPECT_EQ(text("ProductVersion"), "3.03");
  EXPECT_EQ(text("ProductName"), "Quintar Loader");
  EXPECT_EQ(text("OriginalFilename"), "DividezUrirer.exe");
}

TEST(ProgramResources, ManifestAsksForCommonControlsSixAndTheHighestAvailableLevel) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  HGLOBAL loaded = LoadResource(self, found);
  ASSERT_NE(loaded, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                             SizeofResource(self, found));
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"highestAvailable\""),
            std::string::npos);
}

}  // namespace
