// Walks one platform failure through every call of an HTTP download in turn (a plain one, one
// over an existing target, one that needs the login dialog, one cancelled): whatever call
// fails, nothing stays open, the folder holds the old target or the whole new one and nothing
// else, and no error leaves Execute.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>

#include "doubles/FakePlatform.h"
#include "framework/Application.h"
#include "framework/headless/Headless.h"
#include "webcopy/ProgressDialog.h"
#include "webcopy/WcLogin.h"
#include "webcopy/WebCopy.h"

namespace {

using platform::fake::FakePlatform;
using platform::fake::HttpRequest;
using platform::fake::HttpResponse;

const char kUrl[] = "http://srv/dir/a.bin";
const char kTarget[] = "C:\\dl\\a.bin";
const std::string kNew = std::string(9000, 'n') + "new";

webcopy::TWcProgressDialog* DialogOf(TWebCopy& wc) {
    for (int i = wc.ComponentCount() - 1; i >= 0; --i)
        if (auto* d = dynamic_cast<webcopy::TWcProgressDialog*>(wc.Components(i))) return d;
    return nullptr;
}

struct Scenario {
    const char* name;
    bool existing;  // an old target is there before the run
    std::function<void(FakePlatform&, TWebCopy&)> set;
};

const Scenario kScenarios[] = {
    {"plain", false, [](FakePlatform& os, TWebCopy&) {
         HttpResponse r;
         r.body = kNew;
         os.SetHttp(kUrl, r);
     }},
    {"over an existing target", true, [](FakePlatform& os, TWebCopy&) {
         HttpResponse r;
         r.body = kNew;
         os.SetHttp(kUrl, r);
     }},
    {"login after a 401", true, [](FakePlatform& os, TWebCopy& wc) {
         wc.Items[0].Authenticate = waAuto;
         os.SetHttpHandler(kUrl, [](const HttpRequest& rq) {
             HttpResponse r;
             r.body = kNew;
             if (rq.headers != "Authorization: Basic dTpw\r\n\r\n") r.status = 401;
             return r;
         });
         headless::SetModalHandler([](TForm& f) {
             auto& login = dynamic_cast<TWcLoginForm&>(f);
             login.Edit1->SetText("u");
             login.Edit2->SetText("p");
             return mrOk;
         });
     }},
    {"cancelled", true, [](FakePlatform& os, TWebCopy& wc) {
         HttpResponse r;
         r.body = kNew;
         r.onRead = [&wc](uint64_t delivered) {
             if (delivered == 4096)
                 headless::Post([&wc] {
                     if (auto* d = DialogOf(wc)) d->CancelButton->Click();
                 });
         };
         os.SetHttp(kUrl, r);
     }},
};

TEST(DownloadTorture, EveryFailingCallLeavesTheOldTargetOrTheWholeNewOne) {
    for (const Scenario& s : kScenarios) {
        int runs = 0, arrived = 0;
        for (uint64_t n = 1;; ++n) {
            headless::Reset();
            Application = new TApplication;
            Application->Initialize();
            FakePlatform os;
            os.Install();
            os.MakeDirectory("C:\\dl");
            if (s.existing) os.WriteFile(kTarget, "old");
            auto wc = std::make_unique<TWebCopy>(nullptr);
            wc->Items.Add()->URL = kUrl;
            wc->Items[0].TargetDir = "C:\\dl";
            s.set(os, *wc);
            os.ResetCalls();
            os.FailCall(n);
            try {
                wc->Execute();
            } catch (const std::exception& e) {
                ADD_FAILURE() << s.name << " run " << n << ": error escaped: " << e.what();
            }
            const bool done = wc->Items[0].Done;
            wc.reset();
            delete Application;
            Application = nullptr;
            ++runs;

            const std::string failed = n <= os.CallLog().size() ? os.CallLog()[n - 1] : "(none)";
            const std::string where = std::string(s.name) + " run " + std::to_string(n) + " failing " + failed;
            EXPECT_EQ(os.OpenHandleCount(), 0) << where;
            EXPECT_EQ(os.OpenFileCount(), 0) << where;
            const auto folder = os.ListFolder("C:\\dl");
            const auto target = os.ReadFile(kTarget);
            // A temporary file stays only when deleting it was the call that failed; it never
            // has the target's name, and a later run never takes it up.
            const bool deleteFailed = failed.rfind("!DeleteFile", 0) == 0;
            EXPECT_LE(folder.size(), deleteFailed ? 2u : 1u) << where << ": a temporary file was left";
            if (target == kNew) ++arrived;
            if (s.existing) {
                EXPECT_TRUE(target == "old" || target == kNew) << where;
            } else {
                EXPECT_TRUE(!target || target == kNew) << where;
            }
            if (done) {
                EXPECT_EQ(target, kNew) << where << ": Done without the file";
            }

            const bool noCallLeft = os.CallCount() < n;
            FakePlatform::Uninstall();
            if (noCallLeft) break;
            ASSERT_LT(n, 2000u) << s.name << ": the run never ends";
        }
        headless::Reset();
        if (std::string(s.name) != "cancelled") {
            EXPECT_GT(arrived, 0) << s.name;
        }
        std::cout << "download torture, " << s.name << ": " << runs << " runs, new file in "
                  << arrived << "\n";
    }
}

}  // namespace
