// GUID text, Variant conversions, the registry file and per-thread error info.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "qelcom/qelcom.h"
#include "qelcom/recordset_object.h"

namespace {

using namespace qelcom;

TEST(Guid, ParsesAndFormatsTheBracedForm) {
  constexpr GUID g = MakeGuid("{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}");
  EXPECT_EQ(g.Data1, 0x6D1C7106u);
  EXPECT_EQ(g.Data2, 0x26F0);
  EXPECT_EQ(g.Data3, 0x11D6);
  EXPECT_EQ(g.Data4[0], 0xBE);
  EXPECT_EQ(g.Data4[7], 0x2F);
  EXPECT_EQ(ToString(g), "{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}");
  EXPECT_EQ(ParseGuid("6d1c7106-26f0-11d6-bee4-00e09804ae2f"), g) << "lower case, no braces";
  for (const char* bad : {"", "{6D1C7106-26F0-11D6-BEE4-00E09804AE2F", "{6D1C7106-26F0-11D6-BEE4-00E09804AE2G}",
                          "{6D1C710626F0-11D6-BEE4-00E09804AE2F0}", "{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}x"})
    EXPECT_FALSE(ParseGuid(bad)) << bad;
  EXPECT_NE(g, IID_IDispatch);
  EXPECT_EQ(ToString(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Variant, BooleansAreMinusOneAndNumbersConvertAsAutomationDoes) {
  Variant t = Variant::Boolean(true);
  EXPECT_EQ(t.type(), VT_BOOL);
  EXPECT_EQ(t.boolean(), -1);
  EXPECT_EQ(t.AsDouble(), -1.0);
  EXPECT_EQ(t.AsString(), "True");
  Variant out;
  ASSERT_EQ(Variant::Double(2.5).ChangeType(VT_I2, &out), S_OK);
  EXPECT_EQ(out.int16(), 2) << "half to even";
  ASSERT_EQ(Variant::Double(3.5).ChangeType(VT_I2, &out), S_OK);
  EXPECT_EQ(out.int16(), 4);
  EXPECT_EQ(Variant::Double(32767.6).ChangeType(VT_I2, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Variant::Double(NAN).ChangeType(VT_I4, &out), DISP_E_OVERFLOW);
  ASSERT_EQ(Variant::Int32(-7).ChangeType(VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolean(), VARIANT_TRUE);
  EXPECT_EQ(Variant::Double(0.1).AsString(), "0.1");
  EXPECT_EQ(Variant::String(" 12.5 ").AsDouble(), 12.5);
  EXPECT_TRUE(Variant::String("false").AsBool() == false);
  EXPECT_EQ(Variant::String("12abc").ChangeType(VT_R8, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Variant::Null().ChangeType(VT_R8, &out), DISP_E_TYPEMISMATCH) << "null is no number";
  EXPECT_EQ(Variant().AsDouble(), 0.0) << "empty reads as 0";
  EXPECT_EQ(Variant().AsString(), "");
  EXPECT_THROW(Variant::Null().AsString(), std::runtime_error);
}

TEST(Variant, CopiesOwnTheirStringsAndObjects) {
  Variant a = Variant::String("Salary");
  Variant b = a;
  EXPECT_NE(a.bstr(), b.bstr());
  EXPECT_STREQ(b.bstr(), "Salary");
  Variant c = std::move(a);
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_STREQ(c.bstr(), "Salary");

  auto rs = std::make_shared<qeldata::Recordset>();
  rs->GetFields().Append("x", qeldata::adDouble);
  rs->Open();
  IDispatch* object = WrapRecordset(rs);  // one reference, ours
  {
    Variant held = Variant::Object(object);
    Variant copy = held;
    EXPECT_EQ(object->AddRef(), 4u);
    object->Release();
  }
  EXPECT_EQ(object->AddRef(), 2u) << "the variants gave their references back";
  object->Release();
  EXPECT_EQ(UnwrapRecordset(object), rs);
  object->Release();
  EXPECT_EQ(Variant::Object(nullptr).IsNothing(), true);
}

class RegistryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("qelcom-reg-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "sub" / "registry").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(RegistryFile, RoundTripsKeysValuesAndAwkwardText) {
  Registry reg;
  reg.SetValue("CLSID\\{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}\\InprocServer32", "", "/opt/q \"x\"\\lib.so");
  reg.SetValue("CLSID\\{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}\\InprocServer32", "ThreadingModel", "Apartment");
  reg.SetValue("Text", "multi", "line one\nline two\ttab");
  reg.Save(path_);
  const Registry back = Registry::Load(path_);
  EXPECT_EQ(back.GetValue("clsid\\{6d1c7106-26f0-11d6-bee4-00e09804ae2f}\\inprocserver32"), "/opt/q \"x\"\\lib.so")
      << "keys compare without case";
  EXPECT_EQ(back.GetValue("CLSID\\{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}\\InprocServer32", "threadingmodel"),
            "Apartment");
  EXPECT_EQ(back.GetValue("Text", "multi"), "line one\nline two\ttab");
  EXPECT_FALSE(back.GetValue("Text", "missing"));
  EXPECT_EQ(back.SubKeys("CLSID"), std::vector<std::string>{"{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}"});
  // No temporary file is left beside it.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_ / "sub")) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(RegistryFile, DeleteTreeTakesTheKeyAndItsChildrenOnly) {
  Registry reg;
  reg.SetValue("A\\B\\C", "", "1");
  reg.SetValue("A\\B", "", "2");
  reg.SetValue("A\\BC", "", "3");
  reg.SetValue("A\\B2\\D", "", "4");
  EXPECT_TRUE(reg.DeleteTree("a\\b"));
  EXPECT_FALSE(reg.HasKey("A\\B\\C"));
  EXPECT_FALSE(reg.HasKey("A\\B"));
  EXPECT_EQ(reg.GetValue("A\\BC"), "3");
  EXPECT_EQ(reg.GetValue("A\\B2\\D"), "4");
  EXPECT_FALSE(reg.DeleteTree("A\\B"));
}

TEST_F(RegistryFile, AMalformedFileIsReportedWithItsLine) {
  std::filesystem::create_directories(dir_ / "sub");
  std::ofstream(path_) << "[CLSID]\n@=\"ok\"\nThreadingModel=Apartment\n";
  try {
    Registry::Load(path_);
    FAIL() << "expected an error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(path_), std::string::npos) << e.what();
  }
  // Registration refuses to overwrite what it cannot read, and says why.
  ::setenv("QEL_REGISTRY", path_.c_str(), 1);
  EXPECT_EQ(UpdateRegistry([](Registry& r) { r.SetValue("X", "", "y"); }), REGDB_E_WRITEREGDB);
  std::optional<ErrorInfo> info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_NE(info->description.find("line 3"), std::string::npos);
  std::ifstream in(path_);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "[CLSID]") << "the file is left as it was";
  ::unsetenv("QEL_REGISTRY");
}

TEST_F(RegistryFile, ConcurrentUpdatesKeepEveryEntry) {
  ::setenv("QEL_REGISTRY", path_.c_str(), 1);
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < 10; ++i)
        UpdateRegistry([&](Registry& r) { r.SetValue("K" + std::to_string(t) + "_" + std::to_string(i), "", "v"); });
    });
  }
  for (auto& w : writers) w.join();
  const Registry reg = Registry::Load(path_);
  EXPECT_EQ(reg.SubKeys("").size(), 40u);
  ::unsetenv("QEL_REGISTRY");
}

// The message of what `load` throws, or "" when it throws nothing.
template <typename F>
std::string Refusal(F load) {
  try {
    load();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST_F(RegistryFile, RefusesWhatAnotherUserCouldHaveWritten) {
  std::filesystem::create_directories(dir_ / "sub");
  std::ofstream(path_) << "[CLSID]\n@=\"/somewhere/lib.so\"\n";
  ::chmod(path_.c_str(), 0666);
  EXPECT_NE(Refusal([&] { Registry::Load(path_); }).find("other users can write it (mode 0666"), std::string::npos);
  ::chmod(path_.c_str(), 0644);
  ::chmod((dir_ / "sub").c_str(), 0777);
  EXPECT_NE(Refusal([&] { Registry::Load(path_); }).find("registry folder"), std::string::npos);
  ::chmod((dir_ / "sub").c_str(), 01777);  // sticky, as /tmp: others cannot replace the file
  EXPECT_EQ(Refusal([&] { Registry::Load(path_); }), "");
  ::chmod((dir_ / "sub").c_str(), 0755);
  EXPECT_EQ(Registry::Load(path_).GetValue("CLSID"), "/somewhere/lib.so");
  // A file of another user: only root can make one to try.
  if (::chown(path_.c_str(), 12345, 12345) == 0) {
    EXPECT_NE(Refusal([&] { Registry::Load(path_); }).find("belongs to another user (uid 12345)"), std::string::npos);
  }
}

TEST_F(RegistryFile, RefusesSpecialFilesAndHugeFilesWithoutHanging) {
  std::filesystem::create_directories(dir_ / "sub");
  ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
  EXPECT_NE(Refusal([&] { Registry::Load(path_); }).find("not a regular file"), std::string::npos);
  EXPECT_NE(Refusal([] { Registry::Load("/dev/zero"); }).find("not a regular file"), std::string::npos);
  std::filesystem::remove(path_);
  {
    std::ofstream out(path_);
    out << "[K]\n";
    out.seekp((std::streamoff{16} << 20) + 1);
    out << '\n';
  }
  EXPECT_NE(Refusal([&] { Registry::Load(path_); }).find("larger than 16 MiB"), std::string::npos);
}

TEST_F(RegistryFile, LockIsNeverOpenedThroughALink) {
  std::filesystem::create_directories(dir_ / "sub");
  const std::filesystem::path victim = dir_ / "victim";
  std::filesystem::create_symlink(victim, path_ + ".lock");
  ::setenv("QEL_REGISTRY", path_.c_str(), 1);
  EXPECT_EQ(UpdateRegistry([](Registry& r) { r.SetValue("X", "", "y"); }), REGDB_E_WRITEREGDB);
  ::unsetenv("QEL_REGISTRY");
  EXPECT_FALSE(std::filesystem::exists(victim)) << "the link's target must not be created";
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(RegistryFile, RewriteKeepsModeOwnerAndGroup) {
  std::filesystem::create_directories(dir_ / "sub");
  std::ofstream(path_) << "[A]\n@=\"1\"\n";
  ::chmod(path_.c_str(), 0600);
  const bool as_root = ::geteuid() == 0 && ::chown(path_.c_str(), 0, 12345) == 0;
  ::setenv("QEL_REGISTRY", path_.c_str(), 1);
  ASSERT_EQ(UpdateRegistry([](Registry& r) { r.SetValue("B", "", "2"); }), S_OK);
  ::unsetenv("QEL_REGISTRY");
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  if (as_root) {
    EXPECT_EQ(st.st_gid, 12345u);
  }
  EXPECT_EQ(Registry::Load(path_).GetValue("B"), "2");
}

TEST(Registry, NoSharedFallbackWithoutHomeOrConfigFolder) {
  const char* home = std::getenv("HOME");
  const std::string saved = home ? home : "";
  ::unsetenv("QEL_REGISTRY");
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("HOME");
  const std::string why = Refusal([] { Registry::DefaultPath(); });
  EXPECT_NE(why.find("set QEL_REGISTRY"), std::string::npos) << why;
  EXPECT_NE(why.find("XDG_CONFIG_HOME or HOME"), std::string::npos) << why;
  // Registration fails and says so, rather than writing to a shared folder.
  EXPECT_EQ(UpdateRegistry([](Registry& r) { r.SetValue("X", "", "y"); }), REGDB_E_WRITEREGDB);
  std::optional<ErrorInfo> info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_NE(info->description.find("HOME"), std::string::npos);
  if (home) ::setenv("HOME", saved.c_str(), 1);
}

TEST(Registry, DefaultPathFollowsTheEnvironment) {
  ::setenv("QEL_REGISTRY", "/tmp/explicit", 1);
  EXPECT_EQ(Registry::DefaultPath(), "/tmp/explicit");
  ::unsetenv("QEL_REGISTRY");
  ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
  EXPECT_EQ(Registry::DefaultPath(), "/tmp/xdg/qelcom/registry");
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST(ErrorInfo, BelongsToTheThreadThatFailed) {
  SetErrorInfo(static_cast<HRESULT>(0x800403E8), "Build Univariates", "Source parameter is missing or blank.");
  std::optional<ErrorInfo> other;
  std::thread([&] { other = GetErrorInfo(); }).join();
  EXPECT_FALSE(other);
  EXPECT_THROW(ThrowIfFailed(static_cast<HRESULT>(0x800403E8)), ComError);
  EXPECT_FALSE(GetErrorInfo()) << "ThrowIfFailed took it";
  try {
    ThrowIfFailed(E_POINTER);
  } catch (const ComError& e) {
    EXPECT_EQ(e.hr(), E_POINTER);
    EXPECT_EQ(e.description(), "Invalid pointer.");
  }
}

TEST(RecordsetObject, ExposesTheRecordsetByName) {
  auto rs = std::make_shared<qeldata::Recordset>();
  rs->GetFields().Append("Name", qeldata::adVarWChar, 255);
  rs->GetFields().Append("Value", qeldata::adDouble);
  rs->Open();
  for (int i = 0; i < 3; ++i) {
    rs->AddNew();
    rs->GetFields().Item("Name").SetValue(qeldata::Value("row" + std::to_string(i)));
    rs->GetFields().Item("Value").SetValue(i == 1 ? qeldata::Value::Null() : qeldata::Value(i * 1.5));
    rs->Update();
  }
  ComPtr<IDispatch> obj = ComPtr<IDispatch>::Attach(WrapRecordset(rs));
  EXPECT_TRUE(GetProperty(obj.get(), "ActiveConnection").IsNothing()) << "in memory: disconnected";
  CallMethod(obj.get(), "MoveFirst");
  std::vector<std::string> names;
  std::vector<bool> nulls;
  while (!GetProperty(obj.get(), "eof").AsBool()) {
    Variant field = CallMethod(obj.get(), "Fields", {Variant::String("name")});
    names.push_back(GetProperty(field.object(), "Value").AsString());
    Variant fields = GetProperty(obj.get(), "Fields");
    Variant value = CallMethod(fields.object(), "Item", {Variant::Int32(1)});
    nulls.push_back(GetProperty(value.object(), "Value").IsNull());
    CallMethod(obj.get(), "MoveNext");
  }
  EXPECT_EQ(names, (std::vector<std::string>{"row0", "row1", "row2"}));
  EXPECT_EQ(nulls, (std::vector<bool>{false, true, false}));
  // Errors of the data layer keep their number and text.
  try {
    CallMethod(obj.get(), "Collect", {Variant::String("Salry")});
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.hr(), qeldata::kErrItemNotFound);
    EXPECT_NE(e.description().find("Salry"), std::string::npos);
  }
  EXPECT_THROW(GetProperty(obj.get(), "NoSuchMember"), ComError);
  HRESULT elsewhere = S_OK;
  std::thread([&] {
    Variant r;
    elsewhere = InvokeByName(obj.get(), "EOF", DISPATCH_PROPERTYGET, {}, &r);
  }).join();
  EXPECT_EQ(elsewhere, RPC_E_WRONG_THREAD);
}

}  // namespace
