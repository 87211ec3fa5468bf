// The object runtime: registration order, dispatch by selector with typed
// values, errors instead of crashes, actions of controls; bundles: manifest,
// resources, loading a module and finding a bundle from a code address.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/runtime/bundle.h"
#include "platform/runtime/class_registry.h"
#include "platform/ui/controls.h"

using namespace plat::rt;
using plat::ui::Rect;

namespace {

class Probe : public plat::ui::ScreenSaverView {
 public:
  using ScreenSaverView::ScreenSaverView;
  std::vector<std::string> calls;
};

class Unregistered : public plat::ui::Object {};

ClassDefinition<Probe> probeDefinition(const std::string& name) {
  return ClassDefinition<Probe>(name)
      .initWithFrame([](const Rect& r, bool p) { return std::make_shared<Probe>(r, p); })
      .method("negate:", [](Probe& p, Args a) -> Value {
        p.calls.push_back("negate:");
        return !std::get<bool>(a[0]);
      })
      .method("add:to:", [](Probe&, Args a) -> Value { return std::get<std::int64_t>(a[0]) + std::get<std::int64_t>(a[1]); })
      .method("greet:", [](Probe&, Args a) -> Value { return "Hallo, " + std::get<std::string>(a[0]); })
      .method("clicked:", [](Probe& p, Args a) -> Value {
        auto sender = std::get<std::shared_ptr<plat::ui::Object>>(a[0]);
        p.calls.push_back(dynamic_cast<plat::ui::Button*>(sender.get()) ? "clicked: by button" : "clicked: by ?");
        return {};
      })
      .method("ping", [](Probe& p, Args) -> Value {
        p.calls.push_back("ping");
        return {};
      });
}

TEST(Runtime, RegistrationKeepsSelectorOrderAndDispatchesTypedValues) {
  Registration reg(probeDefinition("Probe").build());
  ASSERT_TRUE(reg.registered());
  auto cls = ClassRegistry::shared().lookup("Probe");
  ASSERT_TRUE(cls);
  EXPECT_EQ(cls->selectors,
            (std::vector<std::string>{"initWithFrame:isPreview:", "negate:", "add:to:", "greet:", "clicked:", "ping"}));
  EXPECT_FALSE(cls->initWithCoder);

  auto view = cls->initWithFrame(plat::ui::makeRect(0, 0, 960, 600), true);
  ASSERT_TRUE(view);
  EXPECT_TRUE(view->isPreview());
  EXPECT_EQ(ClassRegistry::shared().classOf(*view), cls);
  EXPECT_EQ(send(*view, "negate:", {true}), Value{false});
  EXPECT_EQ(send(*view, "add:to:", {std::int64_t{40}, std::int64_t{2}}), Value{std::int64_t{42}});
  EXPECT_EQ(send(*view, "greet:", {std::string("Welt")}), Value{std::string("Hallo, Welt")});
  EXPECT_EQ(static_cast<Probe&>(*view).calls, (std::vector<std::string>{"negate:"}));
}

TEST(Runtime, FailedSendsAreErrorValues) {
  Registration reg(probeDefinition("Probe").build());
  auto view = ClassRegistry::shared().lookup("Probe")->initWithFrame({}, false);
  EXPECT_TRUE(respondsTo(*view, "ping"));
  EXPECT_FALSE(respondsTo(*view, "pong"));
  EXPECT_TRUE(isError(send(*view, "pong")));
  EXPECT_TRUE(isError(send(*view, "add:to:", {std::int64_t{1}})));  // too few arguments
  EXPECT_TRUE(isError(send(*view, "ping", {true})));                 // too many
  Unregistered stranger;
  EXPECT_FALSE(respondsTo(stranger, "ping"));
  Value v = send(stranger, "ping");
  ASSERT_TRUE(isError(v));
  EXPECT_FALSE(std::get<Error>(v).message.empty());
}

TEST(Runtime, DuplicateNamesAreRefusedAndUnregisteringFollowsTheRegistration) {
  {
    Registration first(probeDefinition("Probe").build());
    Registration second(probeDefinition("Probe").build());
    EXPECT_TRUE(first.registered());
    EXPECT_FALSE(second.registered());
  }
  EXPECT_EQ(ClassRegistry::shared().lookup("Probe"), nullptr);
  EXPECT_FALSE(ClassRegistry::shared().registerClass(ClassInfo{}));
}

TEST(Runtime, ButtonsSendTheirActionToAWeakTarget) {
  Registration reg(probeDefinition("Probe").build());
  auto view = ClassRegistry::shared().lookup("Probe")->initWithFrame({}, false);
  auto& probe = static_cast<Probe&>(*view);
  auto withSender = plat::ui::Button::buttonWithTitle("A", view, "clicked:");
  auto plain = plat::ui::Button::buttonWithTitle("B", view, "ping");
  auto wrong = plat::ui::Button::buttonWithTitle("C", view, "nothing");
  EXPECT_TRUE(withSender->sendAction());
  plain->performClick();
  EXPECT_FALSE(wrong->sendAction());
  EXPECT_EQ(probe.calls, (std::vector<std::string>{"clicked: by button", "ping"}));
  std::weak_ptr<plat::ui::ScreenSaverView> gone = view;
  view.reset();
  EXPECT_TRUE(gone.expired());  // the button did not keep its target alive
  EXPECT_FALSE(plain->sendAction());
}

TEST(Manifest, ParsesKeysCommentsAndSections) {
  auto m = parseManifest("# comment\n[Bundle]\n Executable = QuelltrineSaver \r\n;x\n\nPrincipalClass=QuelltrineSaverView\nEmpty=\n");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->at("Executable"), "QuelltrineSaver");
  EXPECT_EQ(m->at("PrincipalClass"), "QuelltrineSaverView");
  EXPECT_EQ(m->at("Empty"), "");
  std::string error;
  EXPECT_FALSE(parseManifest("Executable=x\njunk line\n", &error));
  EXPECT_NE(error.find("line 2"), std::string::npos);
  EXPECT_FALSE(parseManifest("=value\n"));
}

class BundleDir : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() / ("qt-bundle-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root_ / "B.saver/Contents/Resources/sub");
    std::filesystem::create_directories(root_ / "B.saver/Contents/MacOS");
    write("B.saver/Contents/Resources/default.glsllib", "x");
    write("B.saver/Contents/Resources/README", "x");
    write("B.saver/Contents/secret.glsllib", "x");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  void write(const std::string& rel, const std::string& text) { std::ofstream(root_ / rel) << text; }
  std::string path(const std::string& rel) { return (root_ / rel).string(); }
  std::filesystem::path root_;
};

TEST_F(BundleDir, ManifestAndResources) {
  write("B.saver/Contents/Info.ini", "Executable=Mod\nPrincipalClass=P\nIdentifier=com.example.b\n");
  std::string error;
  auto b = Bundle::bundleWithPath(path("B.saver"), &error);
  ASSERT_TRUE(b) << error;
  EXPECT_EQ(b->principalClassName(), "P");
  EXPECT_EQ(b->bundleIdentifier(), "com.example.b");
  EXPECT_EQ(b->executablePath(), path("B.saver/Contents/MacOS/Mod"));
  EXPECT_EQ(b->URLForResource("default", "glsllib"), path("B.saver/Contents/Resources/default.glsllib"));
  EXPECT_EQ(b->URLForResource("README", ""), path("B.saver/Contents/Resources/README"));
  EXPECT_FALSE(b->URLForResource("default", "metallib"));
  EXPECT_FALSE(b->URLForResource("sub", ""));                 // a folder is no resource
  EXPECT_FALSE(b->URLForResource("../secret", "glsllib"));    // cannot leave Resources
  EXPECT_FALSE(b->URLForResource("..", ""));
  // No module file: loading fails with a message, it does not crash.
  EXPECT_FALSE(b->load(&error));
  EXPECT_NE(error.find("Mod"), std::string::npos);
  EXPECT_FALSE(b->principalClass());
}

TEST_F(BundleDir, BadManifestsAreRefused) {
  std::string error;
  EXPECT_FALSE(Bundle::bundleWithPath(path("B.saver"), &error));
  EXPECT_NE(error.find("Info.ini"), std::string::npos);
  write("B.saver/Contents/Info.ini", "PrincipalClass=P\n");
  EXPECT_FALSE(Bundle::bundleWithPath(path("B.saver")));
  write("B.saver/Contents/Info.ini", "Executable=../../../usr/lib/evil.so\n");
  EXPECT_FALSE(Bundle::bundleWithPath(path("B.saver")));
}

TEST(LoadedBundle, ModuleRegistersItsPrincipalClassAndFindsItsOwnBundle) {
  std::string error;
  auto b = Bundle::bundleWithPath(QUELLTRINE_TEST_BUNDLE_DIR, &error);
  ASSERT_TRUE(b) << error;
  auto cls = b->principalClass(&error);
  ASSERT_TRUE(cls) << error;
  EXPECT_EQ(cls->name, "TickView");
  EXPECT_EQ(cls->selectors.front(), "initWithFrame:isPreview:");
  EXPECT_EQ(cls->selectors[1], "initWithCoder:");

  plat::ui::Coder archive;
  EXPECT_EQ(cls->initWithCoder(archive), nullptr);  // the base refuses: no frame
  archive.encodeRect("frame", plat::ui::makeRect(0, 0, 1280, 800));
  auto view = cls->initWithCoder(archive);
  ASSERT_TRUE(view);
  EXPECT_NE(view->layer(), nullptr);
  auto png = std::filesystem::temp_directory_path() / ("qt-png-" + std::to_string(::getpid()));
  EXPECT_EQ(send(*view, "debugRenderPNGToPath:frames:", {png.string(), std::int64_t{3}}), Value{true});
  EXPECT_TRUE(std::filesystem::exists(png));
  std::filesystem::remove(png);

  void* handle = dlopen(b->executablePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_TRUE(handle);
  auto fn = reinterpret_cast<const void* (*)()>(dlsym(handle, "tickSaverCodeAddress"));
  ASSERT_TRUE(fn);
  auto found = Bundle::bundleForAddress(fn());
  dlclose(handle);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->bundlePath(), b->bundlePath());
  EXPECT_EQ(found->URLForResource("default", "glsllib"), b->URLForResource("default", "glsllib"));
  // Code outside any bundle (this test program) has none.
  EXPECT_EQ(Bundle::bundleForAddress(reinterpret_cast<const void*>(&parseManifest)), nullptr);
  EXPECT_EQ(Bundle::bundleForAddress(nullptr), nullptr);
}

}  // namespace
