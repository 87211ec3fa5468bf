// The object runtime and bundles: manifest, resources, loading a module.
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
    ASSERT_TRUE(reg.registered() && !duplicate.registered() && cls);
    EXPECT_EQ(cls->selectors, (std::vector<std::string>{"initWithFrame:isPreview:", "add:to:", "ping"}));
    auto view = cls->initWithFrame(plat::ui::makeRect(0, 0, 960, 600), true);
    ASSERT_TRUE(view && view->isPreview());
    EXPECT_EQ(ClassRegistry::shared().classOf(*view), cls);
    EXPECT_EQ(send(*view, "add:to:", {std::int64_t{40}, std::int64_t{2}}), Value{std::int64_t{42}});

    // Unknown selectors and wrong arities are error values, not crashes.
    EXPECT_TRUE(!respondsTo(*view, "pong") && isError(send(*view, "pong")));
    EXPECT_TRUE(isError(send(*view, "add:to:", {std::int64_t{1}})) && isError(send(*view, "ping", {true})));
    EXPECT_FALSE(std::get<Error>(send(*std::make_shared<Unregistered>(), "ping")).message.empty());
  }
  EXPECT_EQ(ClassRegistry::shared().lookup("Probe"), nullptr);  // unregistered with its registration
}

TEST(Bundle, ManifestResourcesAndRefusals) {
  EXPECT_EQ(parseManifest("# c\n[Bundle]\n Executable = Saver \r\n;x\n\nPrincipalClass=View\nEmpty=\n"),
            (std::map<std::string, std::string>{{"Executable", "Saver"}, {"PrincipalClass", "View"}, {"Empty", ""}}));
  std::string error;
  EXPECT_TRUE(!parseManifest("Executable=x\njunk line\n", &error) && error.find("line 2") != std::string::npos);
  EXPECT_FALSE(parseManifest("=value\n"));

  auto root = std::filesystem::temp_directory_path() / ("qt-bundle-" + std::to_string(::getpid()));
  auto contents = root / "B.saver/Contents";
  std::filesystem::create_directories(contents / "Resources/sub");
  for (auto f : {"Resources/default.glsllib", "Resources/README", "secret.glsllib"}) std::ofstream(contents / f) << "x";
  auto p = [&](const std::string& rel) { return (root / rel).string(); };
  EXPECT_TRUE(!Bundle::bundleWithPath(p("B.saver"), &error) && error.find("Info.ini") != std::string::npos);
  for (auto bad : {"PrincipalClass=P\n", "Executable=../../../usr/lib/evil.so\n"}) {
    std::ofstream(contents / "Info.ini") << bad;
    EXPECT_FALSE(Bundle::bundleWithPath(p("B.saver"))) << bad;
  }
  std::ofstream(contents / "Info.ini") << "Executable=Mod\nPrincipalClass=P\nIdentifier=com.example.b\n";
  auto b = Bundle::bundleWithPath(p("B.saver"), &error);
  ASSERT_TRUE(b) << error;
  EXPECT_EQ(b->executablePath(), p("B.saver/Contents/MacOS/Mod"));
  EXPECT_EQ(b->URLForResource("default", "glsllib"), p("B.saver/Contents/Resources/default.glsllib"));
  EXPECT_EQ(b->URLForResource("README", ""), p("B.saver/Contents/Resources/README"));
  // No such type, a folder, a path out of Resources: none is a resource.
  EXPECT_FALSE(b->URLForResource("default", "metallib") || b->URLForResource("sub", "") ||
               b->URLForResource("../secret", "glsllib") || b->URLForResource("..", ""));
  EXPECT_TRUE(!b->load(&error) && error.find("Mod") != std::string::npos);  // no module file: a message, no crash
  EXPECT_FALSE(b->principalClass());
  std::filesystem::remove_all(root);
}

TEST(Bundle, LoadedModuleRegistersItsClassAndFindsItsOwnBundle) {
  std::string error;
  auto b = Bundle::bundleWithPath(QUELLTRINE_TEST_BUNDLE_DIR, &error);
  ASSERT_TRUE(b) << error;
  auto cls = b->principalClass(&error);
  ASSERT_TRUE(cls && cls->name == "TickView") << error;
  plat::ui::Coder archive;
  EXPECT_FALSE(cls->initWithCoder(archive));  // no frame: refused
  archive.encodeRect("frame", plat::ui::makeRect(0, 0, 1280, 800));
  EXPECT_TRUE(cls->initWithCoder(archive)->layer());

  void* handle = dlopen(b->executablePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_TRUE(handle);
  auto found = Bundle::bundleForAddress(dlsym(handle, "tickSaverCodeAddress"));
  dlclose(handle);
  EXPECT_TRUE(found && found->bundlePath() == b->bundlePath());
  // Code outside any bundle (this test program) has none.
  EXPECT_FALSE(Bundle::bundleForAddress(reinterpret_cast<const void*>(&parseManifest)));
  EXPECT_FALSE(Bundle::bundleForAddress(nullptr));
}

}  // namespace
