// Bundles: the manifest, resources, loading a module.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/runtime/bundle.h"

using namespace plat::rt;

namespace {

TEST(Bundle, ManifestResourcesAndRefusals) {
  auto root = std::filesystem::temp_directory_path() / ("qt-bundle-" + std::to_string(::getpid()));
  auto contents = root / "B.saver/Contents";
  std::filesystem::create_directories(contents / "Resources/sub");
  for (auto f : {"Resources/default.glsllib", "secret.glsllib"}) std::ofstream(contents / f) << "x";
  auto p = [&](const std::string& rel) { return (root / rel).string(); };
  EXPECT_FALSE(Bundle::bundleWithPath(p("B.saver"))) << "no manifest";
  for (auto bad : {"PrincipalClass=P\n", "Executable=../../../usr/lib/evil.so\n"}) {
    std::ofstream(contents / "Info.ini") << bad;
    EXPECT_FALSE(Bundle::bundleWithPath(p("B.saver"))) << bad;
  }
  std::ofstream(contents / "Info.ini") << "Executable=Mod\nPrincipalClass=P\nIdentifier=com.example.b\n";
  auto opened = Bundle::bundleWithPath(p("B.saver"));
  ASSERT_TRUE(opened) << opened.error().text();
  auto b = *opened;
  EXPECT_EQ(b->executablePath(), p("B.saver/Contents/MacOS/Mod"));
  EXPECT_EQ(b->URLForResource("default", "glsllib"), p("B.saver/Contents/Resources/default.glsllib"));
  // No such type, a folder, a path out of Resources: none is a resource.
  for (const auto& [name, type] : std::vector<std::pair<std::string, std::string>>{
           {"default", "metallib"}, {"sub", ""}, {"../secret", "glsllib"}, {"..", ""}}) {
    EXPECT_FALSE(b->URLForResource(name, type)) << name << "." << type;
  }
  EXPECT_FALSE(b->load()) << "no module file: an error, no crash";
  EXPECT_FALSE(b->principalClass());
  std::filesystem::remove_all(root);
}

TEST(Bundle, LoadedModuleRegistersItsClassAndFindsItsOwnBundle) {
  auto opened = Bundle::bundleWithPath(QUELLTRINE_TEST_BUNDLE_DIR);
  ASSERT_TRUE(opened) << opened.error().text();
  auto b = *opened;
  auto found = b->principalClass();
  ASSERT_TRUE(found) << found.error().text();
  auto cls = *found;
  EXPECT_EQ(cls->name, "TickView");
  plat::ui::Coder archive;
  EXPECT_FALSE(cls->initWithCoder(archive));  // no frame: refused
  archive.encodeRect("frame", plat::ui::makeRect(0, 0, 1280, 800));
  EXPECT_TRUE(cls->initWithCoder(archive)->layer());

  void* handle = dlopen(b->executablePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_TRUE(handle);
  auto own = Bundle::bundleForAddress(dlsym(handle, "tickSaverCodeAddress"));
  dlclose(handle);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->bundlePath(), b->bundlePath());
  // Code outside any bundle (this test program) has none.
  EXPECT_FALSE(Bundle::bundleForAddress(reinterpret_cast<const void*>(&parseManifest)));
}

}  // namespace
