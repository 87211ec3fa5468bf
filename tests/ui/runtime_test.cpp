// The object runtime and bundles: manifest, resources, loading a module.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/runtime/bundle.h"
#include "platform/runtime/class_registry.h"

using namespace plat::rt;

namespace {

using Probe = plat::ui::ScreenSaverView;
struct Unregistered : plat::ui::Object {};

ClassInfo probeClass() {
  return ClassDefinition<Probe>("Probe")
      .initWithFrame([](const plat::ui::Rect& r, bool p) { return std::make_shared<Probe>(r, p); })
      .method("add:to:", [](Probe&, Args a) -> Value { return std::get<int64_t>(a[0]) + std::get<int64_t>(a[1]); })
      .method("ping", [](Probe&, Args) -> Value { return {}; })
      .build();
}

TEST(Runtime, RegistrationKeepsSelectorOrderAndDispatchesTypedValues) {
  {
    Registration reg(probeClass()), duplicate(probeClass());
    auto cls = ClassRegistry::shared().lookup("Probe");
    ASSERT_TRUE(reg.registered());
    EXPECT_FALSE(duplicate.registered()) << "a second class of the same name";
    ASSERT_TRUE(cls);
    EXPECT_EQ(cls->selectors, (std::vector<std::string>{"initWithFrame:isPreview:", "add:to:", "ping"}));
    auto view = cls->initWithFrame(plat::ui::makeRect(0, 0, 960, 600), true);
    ASSERT_TRUE(view);
    EXPECT_TRUE(view->isPreview());
    EXPECT_EQ(ClassRegistry::shared().classOf(*view), cls);
    EXPECT_EQ(send(*view, "add:to:", {std::int64_t{40}, std::int64_t{2}}), Value{std::int64_t{42}});

    // Unknown selectors and wrong arities are error values, not crashes.
    EXPECT_FALSE(respondsTo(*view, "pong"));
    EXPECT_TRUE(isError(send(*view, "pong"))) << "an unknown selector";
    EXPECT_TRUE(isError(send(*view, "add:to:", {std::int64_t{1}}))) << "one argument short";
    EXPECT_TRUE(isError(send(*view, "ping", {true}))) << "one argument too many";
    const Value unregistered = send(*std::make_shared<Unregistered>(), "ping");
    ASSERT_TRUE(isError(unregistered));
    EXPECT_EQ(std::get<plat::Error>(unregistered).kind, plat::ErrorKind::Runtime);
    EXPECT_FALSE(std::get<plat::Error>(unregistered).message.empty());
  }
  EXPECT_EQ(ClassRegistry::shared().lookup("Probe"), nullptr);  // unregistered with its registration
}

TEST(Bundle, ManifestResourcesAndRefusals) {
  EXPECT_EQ(parseManifest("# c\n[Bundle]\n Executable = Saver \r\n;x\n\nPrincipalClass=View\nEmpty=\n").valueOr(
                std::map<std::string, std::string>{}),
            (std::map<std::string, std::string>{{"Executable", "Saver"}, {"PrincipalClass", "View"}, {"Empty", ""}}));
  auto junk = parseManifest("Executable=x\njunk line\n");
  ASSERT_FALSE(junk);
  EXPECT_THAT(junk.error().message, ::testing::HasSubstr("line 2"));
  EXPECT_FALSE(parseManifest("=value\n"));

  auto root = std::filesystem::temp_directory_path() / ("qt-bundle-" + std::to_string(::getpid()));
  auto contents = root / "B.saver/Contents";
  std::filesystem::create_directories(contents / "Resources/sub");
  for (auto f : {"Resources/default.glsllib", "Resources/README", "secret.glsllib"}) std::ofstream(contents / f) << "x";
  auto p = [&](const std::string& rel) { return (root / rel).string(); };
  auto noManifest = Bundle::bundleWithPath(p("B.saver"));
  ASSERT_FALSE(noManifest);
  EXPECT_EQ(noManifest.error().kind, plat::ErrorKind::Bundle);
  EXPECT_THAT(noManifest.error().message, ::testing::HasSubstr("Info.ini"));
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
  EXPECT_EQ(b->URLForResource("README", ""), p("B.saver/Contents/Resources/README"));
  // No such type, a folder, a path out of Resources: none is a resource.
  for (const auto& [name, type] : std::vector<std::pair<std::string, std::string>>{
           {"default", "metallib"}, {"sub", ""}, {"../secret", "glsllib"}, {"..", ""}}) {
    EXPECT_FALSE(b->URLForResource(name, type)) << name << "." << type;
  }
  auto loaded = b->load();  // no module file: a message, no crash
  ASSERT_FALSE(loaded);
  EXPECT_THAT(loaded.error().path, ::testing::EndsWith("/Mod"));
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
  EXPECT_FALSE(Bundle::bundleForAddress(nullptr));
}

}  // namespace
