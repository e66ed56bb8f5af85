// Downloads the URL given as the first argument into the current folder with the
// component's progress dialog; exit code 0 when it arrived.
#include "framework/Application.h"
#include "webcopy/WebCopy.h"

int main(int argc, char** argv) {
    Application = new TApplication;
    Application->Initialize();
    auto* copy = new TWebCopy(Application);
    TWebCopyItem* job = copy->Items.Add();
    job->URL = argc > 1 ? argv[1] : "http://127.0.0.1/index.html";
    job->TargetDir = ".";
    copy->Execute();
    const bool done = job->Done;
    delete Application;
    return done ? 0 : 1;
}
