#include <gtest/gtest.h>

#include <stdexcept>

#include "WebTestHost.h"
#include "rtl/Exception.h"
#include "rtl/TypeInfo.h"
#include "web/CGIApp.h"
#include "web/WebDispatcher.h"
#include "web/WebLimits.h"
#include "web/WebResponse.h"

using namespace vv;

namespace {

VV_EXCEPTION(ETestModuleError, Exception);

int gModulesMade = 0;
TCGIApplication *gCurrentApp = nullptr;

// A module with the program's shape: a default action for "/", plus a few
// actions that misbehave on purpose.
class TTestModule : public TWebModule {
  VV_CLASS(TTestModule)
  explicit TTestModule(TComponent *owner = nullptr) : TWebModule(owner) {
    ++gModulesMade;
    Add("/", mtAny, true, [](TWebRequest *, TWebResponse *r) { r->SetContent("page"); });
    Add("/echo", mtPost, false,
        [](TWebRequest *q, TWebResponse *r) { r->SetContent(q->RawContent()); });
    Add("/raise", mtAny, false,
        [](TWebRequest *, TWebResponse *) { throw ETestModuleError("<b>broken</b>"); });
    Add("/raise-int", mtAny, false, [](TWebRequest *, TWebResponse *) { throw 42; });
    // Serves the request a second time from inside the first, once.
    Add("/nested", mtAny, false, [](TWebRequest *q, TWebResponse *r) {
      static int depth = 0;
      if (depth > 0) return r->SetContent("inner");
      ++depth;
      try {
        gCurrentApp->HandleRequest(q, r);
      } catch (...) {
        --depth;
        throw;
      }
      --depth;
    });
  }

private:
  void Add(const char *path, TMethodType method, bool isDefault,
           std::function<void(TWebRequest *, TWebResponse *)> body) {
    TWebActionItem *item = Actions().Add();
    item->SetPathInfo(path);
    item->MethodType = method;
    item->SetDefault(isDefault);
    item->OnAction = [body](TObject *, TWebRequest *q, TWebResponse *r, bool &) { body(q, r); };
  }
};

TClass TTestModule::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TTestModule, TWebModule>("TTestModule", "CGIAppTest").Build();
  return &info;
}

// A module without a default action: unknown paths stay unanswered.
class TQuietModule : public TWebModule {
  VV_CLASS(TQuietModule)
};
TClass TQuietModule::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TQuietModule, TWebModule>("TQuietModule", "CGIAppTest").Build();
  return &info;
}

// A container that is no dispatcher.
class TPlainModule : public TComponent {
  VV_CLASS(TPlainModule)
};
TClass TPlainModule::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TPlainModule, TComponent>("TPlainModule", "CGIAppTest").Build();
  return &info;
}

// A module that cannot be built; its message tries to forge a header.
class TBrokenModule : public TWebModule {
  VV_CLASS(TBrokenModule)
  TBrokenModule() { throw ETestModuleError("bad\r\nX-Injected: 1"); }
};
TClass TBrokenModule::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TBrokenModule, TWebModule>("TBrokenModule", "CGIAppTest").Build();
  return &info;
}

struct AppFixture {
  explicit AppFixture(std::vector<std::string> env, std::string input = "")
      : IO(std::make_shared<vvtest::FakeIO>()) {
    IO->Input = std::move(input);
    env.push_back("SERVER_PROTOCOL=HTTP/1.1");
    App = std::make_unique<TCGIApplication>(vvtest::MakeHost(std::move(env), IO));
    gCurrentApp = App.get();
  }
  std::string Run(TClass moduleClass) {
    if (moduleClass) App->CreateForm(moduleClass);
    App->Run();
    return IO->Output;
  }
  std::shared_ptr<vvtest::FakeIO> IO;
  std::unique_ptr<TCGIApplication> App;
};

std::string ServerError(const std::string &cls, const std::string &status,
                        const std::string &message) {
  std::string body = "<html><title>Internal Server Error 500</title>\r\n"
                     "<h1>Internal Server Error 500</h1><hr>\r\nException: " +
                     cls + "<br>\r\nMessage: " + message + "<br></html>\r\n";
  return "Status: 500 " + status +
         "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string Ok(const std::string &body) {
  return "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body;
}

TEST(CGIApplication, ServesOneRequest) {
  const struct {
    std::vector<std::string> Env;
    std::string Input;
    std::string Expected;
  } cases[] = {
      {{"REQUEST_METHOD=GET", "PATH_INFO=/"}, "", Ok("page")},
      {{"REQUEST_METHOD=GET"}, "", Ok("page")},
      {{"REQUEST_METHOD=GET", "PATH_INFO=/anything"}, "", Ok("page")},
      {{"REQUEST_METHOD=POST", "PATH_INFO=/echo", "CONTENT_LENGTH=5"}, "hello world", Ok("hello")},
      {{"REQUEST_METHOD=GET", "PATH_INFO=/echo", "CONTENT_LENGTH=5"}, "hello", Ok("page")},
  };
  for (const auto &c : cases) {
    AppFixture f(c.Env, c.Input);
    EXPECT_EQ(f.Run(TTestModule::StaticClassInfo()), c.Expected);
  }
}

TEST(CGIApplication, HandlerErrorsBecomeTheApplicationErrorPage) {
  AppFixture f({"REQUEST_METHOD=GET", "PATH_INFO=/raise"});
  std::string body = "<html><body><h1>Internal Application Error</h1>\r\n"
                     "<p>&lt;b&gt;broken&lt;/b&gt;\r\n<p><hr width=\"100%\"><i>/raise</i>"
                     "</body></html>";
  EXPECT_EQ(f.Run(TTestModule::StaticClassInfo()),
            "Status: 500 Internal Server Error\r\nContent-Type: text/html\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body);
}

TEST(CGIApplication, ServerErrorAnswers) {
  const struct {
    const char *Name;
    TClass Module;
    std::vector<std::string> Env;
    std::string Expected;
  } cases[] = {
      {"no module class",
       nullptr,
       {},
       ServerError("Exception", "No data modules registered", "No data modules registered")},
      {"no dispatcher",
       TPlainModule::StaticClassInfo(),
       {},
       ServerError("Exception", "No dispatcher component found on data module",
                   "No dispatcher component found on data module")},
      // The status line loses its line breaks; the page escapes nothing it
      // need not, but still shows the class name.
      {"module cannot be built",
       TBrokenModule::StaticClassInfo(),
       {},
       ServerError("ETestModuleError", "bad  X-Injected: 1", "bad\r\nX-Injected: 1")},
      // Not an error object: no message.
      {"foreign object",
       TTestModule::StaticClassInfo(),
       {"PATH_INFO=/raise-int"},
       ServerError("TObject", "", "")},
  };
  for (const auto &c : cases) {
    AppFixture f(c.Env);
    EXPECT_EQ(f.Run(c.Module), c.Expected) << c.Name;
    EXPECT_EQ(f.IO->Writes, 2) << c.Name;
  }
}

TEST(CGIApplication, ConnectionLimit) {
  AppFixture f({"PATH_INFO=/nested"});
  f.App->MaxConnections = 1;
  std::string out = f.Run(TTestModule::StaticClassInfo());
  EXPECT_NE(out.find("<p>Maximum number of concurrent connections exceeded.  Please try again "
                     "later\r\n"),
            std::string::npos)
      << out;
  // Without a limit the nested request gets a second module.
  AppFixture g({"PATH_INFO=/nested"});
  g.App->MaxConnections = 0;
  gModulesMade = 0;
  g.Run(TTestModule::StaticClassInfo());
  EXPECT_EQ(gModulesMade, 2);
}

TEST(CGIApplication, ModulesAreCachedForReuse) {
  AppFixture f({"PATH_INFO=/"});
  gModulesMade = 0;
  f.Run(TTestModule::StaticClassInfo());
  f.Run(TTestModule::StaticClassInfo());
  EXPECT_EQ(gModulesMade, 1);
  EXPECT_EQ(f.App->InactiveCount(), 1);
  EXPECT_EQ(f.App->ActiveCount(), 0);
  f.App->CacheConnections = false;
  f.Run(TTestModule::StaticClassInfo());
  EXPECT_EQ(f.App->InactiveCount(), 0);
}

TEST(CGIApplication, CreateFormRecordsOneClass) {
  AppFixture f({});
  f.App->CreateForm(TTestModule::StaticClassInfo());
  EXPECT_NO_THROW(f.App->CreateForm<TTestModule>());
  try {
    f.App->CreateForm(TQuietModule::StaticClassInfo());
    ADD_FAILURE();
  } catch (const Exception &e) {
    EXPECT_EQ(e.Message, "Only one data module per application");
  }
  EXPECT_EQ(f.App->WebModuleClass(), TTestModule::StaticClassInfo());
}

TEST(CGIApplication, UnhandledRequestWritesNothing) {
  AppFixture f({"PATH_INFO=/x"});
  EXPECT_EQ(f.Run(TQuietModule::StaticClassInfo()), "");
}

TEST(CGIApplication, NoContentLengthMeansNoRead) {
  for (const char *length : {"", "0", "-1", "abc"}) {
    AppFixture f(
        {"REQUEST_METHOD=POST", "PATH_INFO=/echo", std::string("CONTENT_LENGTH=") + length},
        "unread");
    EXPECT_EQ(f.Run(TTestModule::StaticClassInfo()),
              "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n")
        << length;
    EXPECT_EQ(f.IO->Reads, 0) << length;
  }
}

TEST(CGIApplication, OversizedBodyIsRefusedUnread) {
  for (int64_t length : {kMaxContentLength + 1, int64_t(1) << 50}) {
    AppFixture f(
        {"REQUEST_METHOD=POST", "PATH_INFO=/echo", "CONTENT_LENGTH=" + std::to_string(length)},
        "some bytes");
    gModulesMade = 0;
    std::string body = "<html><title>Request Entity Too Large 413</title>\r\n"
                       "<h1>Request Entity Too Large 413</h1><hr>\r\n"
                       "The request body may not exceed 16777216 bytes.</html>\r\n";
    EXPECT_EQ(f.Run(TTestModule::StaticClassInfo()),
              "Status: 413 Request Entity Too Large\r\nContent-Type: text/html\r\n"
              "Content-Length: " +
                  std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body);
    EXPECT_EQ(f.IO->Reads, 0);
    EXPECT_EQ(gModulesMade, 0);
  }
}

TEST(CGIApplication, InitializeRunsTheHook) {
  static int calls = 0;
  InitProc = [] { ++calls; };
  AppFixture f({});
  f.App->Initialize();
  InitProc = nullptr;
  f.App->Initialize();
  EXPECT_EQ(calls, 1);
}

} // namespace
