// Controls and forms against the headless backend: state rules, closing, modal loops,
// painting, timers and the message loop.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "FrameworkFixture.h"
#include "framework/Exceptions.h"
#include "framework/Forms.h"

class FrameworkForms : public FrameworkTest {
protected:
    TForm* NewForm() {
        TForm* f = nullptr;
        Application->CreateForm(f);
        return f;
    }
};

TEST_F(FrameworkForms, SettersReportOnlyRealChanges) {
    TForm* form = NewForm();
    auto* bar = new TProgressBar(form);
    bar->SetParent(form);
    const int before = headless::ChangeCount(*bar, TChange::Position);
    for (int p : {10, 10, 10, 20}) bar->SetPosition(p);
    EXPECT_EQ(headless::ChangeCount(*bar, TChange::Position) - before, 2);

    auto* label = new TLabel(form);
    label->AutoSize = false;
    label->SetCaption("a");
    label->SetCaption("a");
    label->SetBounds(1, 2, 3, 4);
    label->SetBounds(1, 2, 3, 4);
    label->SetVisible(true);  // already visible
    label->SetEnabled(false);
    label->SetEnabled(false);
    TFont font;
    label->SetFont(font);  // equal to the default
    font.Height = -19;
    label->SetFont(font);
    label->SetFont(font);
    EXPECT_EQ(headless::ChangeCount(*label, TChange::Text), 1);
    EXPECT_EQ(headless::ChangeCount(*label, TChange::Visible), 0);
    EXPECT_EQ(headless::ChangeCount(*label, TChange::Enabled), 1);
    EXPECT_EQ(headless::ChangeCount(*label, TChange::Font), 1);
    EXPECT_EQ(label->Font().Height, -19);
}

TEST_F(FrameworkForms, ProgressBarClampsToItsRange) {
    TForm* form = NewForm();
    auto* bar = new TProgressBar(form);
    const struct {
        int set, read;
    } cases[] = {{50, 50}, {100, 100}, {101, 100}, {5000, 100}, {0, 0}, {-3, 0}};
    for (const auto& c : cases) {
        bar->SetPosition(c.set);
        EXPECT_EQ(bar->Position(), c.read) << c.set;
    }
    bar->Min = 10;
    bar->Max = 20;
    bar->SetPosition(3);
    EXPECT_EQ(bar->Position(), 10);
}

TEST_F(FrameworkForms, LabelAutoSizeKeepsTheLeftEdge) {
    TForm* form = NewForm();
    auto* label = new TLabel(form);
    label->SetParent(form);
    label->SetBounds(69, 10, 149, 24);
    label->ParentFont = false;
    TFont font;
    font.Name = "Trebuchet MS";
    font.Height = -19;
    label->SetFont(font);
    label->SetCaption("H\xe4mtar uppdatering");
    // 18 characters at 19 * 6 / 11 = 10 pixels each, height 19 + 2.
    EXPECT_EQ(label->Left(), 69);
    EXPECT_EQ(label->Top(), 10);
    EXPECT_EQ(label->Width(), 180);
    EXPECT_EQ(label->Height(), 21);

    // With ParentFont the form's font (height -11: 6 pixels a character) is measured.
    auto* other = new TLabel(form);
    other->SetParent(form);
    other->SetLeft(10);
    other->SetCaption("Progress :");
    EXPECT_EQ(other->Width(), 60);
    EXPECT_EQ(other->Left(), 10);

    auto* fixed = new TLabel(form);
    fixed->AutoSize = false;
    fixed->SetBounds(10, 80, 280, 13);
    fixed->SetCaption("a long file line that does not fit in the fixed width at all");
    EXPECT_EQ(fixed->Width(), 280);
}

TEST_F(FrameworkForms, ParentKeepsItsControlListUpToDate) {
    TForm* a = NewForm();
    TForm* b = NewForm();
    auto* button = new TButton(a);
    auto* edit = new TEdit(a);
    button->SetParent(a);
    edit->SetParent(a);
    EXPECT_EQ(a->Controls(), (std::vector<TControl*>{button, edit}));
    edit->SetParent(b);
    EXPECT_EQ(a->Controls(), (std::vector<TControl*>{button}));
    EXPECT_EQ(b->Controls(), (std::vector<TControl*>{edit}));
    delete button;
    EXPECT_TRUE(a->Controls().empty());
    delete a;  // owns the edit shown on b
    EXPECT_TRUE(b->Controls().empty());
    EXPECT_EQ(Application->MainForm(), nullptr);
}

TEST_F(FrameworkForms, ClientSizeAndCentring) {
    TForm* form = NewForm();
    form->BorderStyle = bsNone;
    form->SetClientSize(288, 61);
    EXPECT_EQ(form->Width(), 288);
    EXPECT_EQ(form->Height(), 61);
    form->Position = poScreenCenter;
    form->SetBounds(96, 650, form->Width(), form->Height());
    form->Show();
    EXPECT_EQ(form->Left(), (1024 - 288) / 2);
    EXPECT_EQ(form->Top(), (768 - 61) / 2);

    TForm* dialog = NewForm();
    dialog->BorderStyle = bsDialog;
    dialog->SetClientSize(300, 200);
    EXPECT_EQ(dialog->Width(), 306);
    EXPECT_EQ(dialog->Height(), 224);
    EXPECT_EQ(dialog->ClientWidth(), 300);
    EXPECT_EQ(dialog->ClientHeight(), 200);
    dialog->SetBounds(5, 6, 306, 224);
    dialog->Show();  // poDesigned: stays where it is
    EXPECT_EQ(dialog->Left(), 5);
}

TEST_F(FrameworkForms, AnimationAndPictureSizeThemselves) {
    TForm* form = NewForm();
    auto* anim = new TAnimate(form);
    anim->SetBounds(10, 0, 1, 1);
    EXPECT_TRUE(anim->SetResId(nullptr, 257));
    EXPECT_EQ(anim->ResId(), 257);
    EXPECT_EQ(anim->Left(), 10);
    EXPECT_EQ(anim->Width(), 272);
    EXPECT_EQ(anim->Height(), 60);
    EXPECT_FALSE(anim->SetResId(nullptr, 999));
    EXPECT_EQ(anim->ResId(), 257);
    EXPECT_TRUE(anim->SetCommonAVI(aviCopyFiles));
    EXPECT_EQ(anim->CommonAVI(), aviCopyFiles);
    EXPECT_EQ(anim->ResId(), 0);
    anim->SetActive(true);
    anim->SetActive(true);
    EXPECT_EQ(headless::ChangeCount(*anim, TChange::Play), 1);

    auto* image = new TImage(form);
    EXPECT_TRUE(image->LoadBitmapResource("BANNER"));
    EXPECT_EQ(image->PictureName(), "BANNER");
    EXPECT_EQ(image->Width(), 320);
    EXPECT_EQ(image->Height(), 60);
}

TEST_F(FrameworkForms, ShowQueuesOnePaintAndRunsOnShowOnce) {
    TForm* form = NewForm();
    int shows = 0, paints = 0;
    form->OnShow = [&](TObject*) { ++shows; };
    form->OnPaint = [&](TObject* sender) {
        EXPECT_EQ(sender, form);
        ++paints;
    };
    form->Show();
    form->Show();
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(paints, 0);  // painting waits for the message loop
    Application->ProcessMessages();
    EXPECT_EQ(paints, 1);
    form->Repaint();
    EXPECT_EQ(paints, 2);
    EXPECT_EQ(headless::PaintCount(*form), 2);
    Application->ProcessMessages();
    EXPECT_EQ(paints, 2);

    form->Hide();
    form->Show();
    form->Hide();  // hidden before the paint came
    Application->ProcessMessages();
    EXPECT_EQ(paints, 2);
    EXPECT_EQ(shows, 2);
}

TEST_F(FrameworkForms, CloseAsksCloseQueryAndEndsTheApplicationForTheMainForm) {
    TForm* main = NewForm();
    TForm* other = NewForm();
    bool allow = false;
    int asked = 0;
    main->OnCloseQuery = [&](TObject*, bool& canClose) {
        ++asked;
        EXPECT_TRUE(canClose);
        canClose = allow;
    };
    main->Show();
    other->Show();
    main->Close();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(main->Visible());
    EXPECT_FALSE(Application->Terminated());

    other->Close();
    EXPECT_FALSE(other->Visible());
    EXPECT_FALSE(Application->Terminated());

    allow = true;
    main->Close();
    EXPECT_FALSE(main->Visible());
    EXPECT_TRUE(Application->Terminated());
}

TEST_F(FrameworkForms, RunShowsTheMainFormAndReturnsWhenItCloses) {
    TForm* main = NewForm();
    main->Position = poScreenCenter;
    int paints = 0;
    main->OnPaint = [&](TObject*) {
        ++paints;
        headless::Post([main] { main->Close(); });
    };
    Application->Run();
    EXPECT_EQ(paints, 1);
    EXPECT_TRUE(Application->Terminated());
    EXPECT_FALSE(main->Visible());
}

TEST_F(FrameworkForms, ModalFlows) {
    TForm* main = NewForm();
    auto* dialog = new TForm(Application);
    auto* edit = new TEdit(dialog);
    edit->SetParent(dialog);
    auto* ok = new TButton(dialog);
    ok->SetParent(dialog);
    ok->ModalResult = mrOk;
    int clicks = 0;
    ok->OnClick = [&](TObject*) { ++clicks; };
    auto* cancel = new TButton(dialog);
    cancel->SetParent(dialog);
    cancel->ModalResult = mrCancel;

    struct Flow {
        const char* name;
        std::function<int(TForm&)> handler;
        int result;
    };
    const Flow flows[] = {
        {"handler result", [&](TForm& f) {
             EXPECT_TRUE(f.Visible());
             edit->SetText("anna");
             return mrOk;
         }, mrOk},
        {"default handler", nullptr, mrCancel},
        {"OK button", [&](TForm&) { ok->Click(); return mrNone; }, mrOk},
        {"Cancel button", [&](TForm&) { cancel->Click(); return mrOk; }, mrCancel},
        {"closed", [&](TForm& f) { f.Close(); return mrOk; }, mrCancel},
        {"hidden", [&](TForm& f) { f.Hide(); return mrOk; }, mrCancel},
    };
    for (const auto& flow : flows) {
        headless::SetModalHandler(flow.handler);
        dialog->ModalResult = mrOk;  // ShowModal starts from mrNone
        EXPECT_EQ(dialog->ShowModal(), flow.result) << flow.name;
        EXPECT_EQ(dialog->ModalResult, flow.result) << flow.name;
        EXPECT_FALSE(dialog->Visible()) << flow.name;
    }
    EXPECT_EQ(edit->Text(), "anna");
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(Application->Terminated());  // the dialog is not the main form
    EXPECT_EQ(Application->MainForm(), main);

    // Outside a modal loop Close leaves ModalResult alone.
    dialog->ModalResult = mrNone;
    dialog->Show();
    dialog->Close();
    EXPECT_EQ(dialog->ModalResult, mrNone);
}

TEST_F(FrameworkForms, ModalCloseRefusedKeepsTheLoopGoing) {
    NewForm();
    auto* dialog = new TForm(Application);
    dialog->OnCloseQuery = [](TObject*, bool& canClose) { canClose = false; };
    headless::SetModalHandler([](TForm& f) {
        f.Close();
        EXPECT_TRUE(f.Visible());
        EXPECT_EQ(f.ModalResult, mrNone);
        f.OnCloseQuery = nullptr;
        f.Close();
        return mrOk;
    });
    EXPECT_EQ(dialog->ShowModal(), mrCancel);
}

TEST_F(FrameworkForms, ReleasedFormIsDestroyedAfterTheMessage) {
    TForm* main = NewForm();
    struct Watched : TForm {
        explicit Watched(TComponent* owner, bool& gone) : TForm(owner), gone_(gone) {}
        ~Watched() override { gone_ = true; }
        bool& gone_;
    };
    bool gone = false;
    auto* dialog = new Watched(Application, gone);
    auto* button = new TButton(dialog);
    button->SetParent(dialog);
    button->OnClick = [&](TObject*) {
        dialog->Release();
        dialog->Release();
        EXPECT_FALSE(gone);  // still usable inside its own handler
    };
    headless::Post([&] { button->Click(); });
    Application->ProcessMessages();
    EXPECT_TRUE(gone);
    EXPECT_EQ(Application->ComponentCount(), 1);
    EXPECT_EQ(Application->Components(0), main);

    // A released form that its owner destroys first is not destroyed twice.
    auto* another = new TForm(Application);
    another->Release();
    delete another;
    Application->ProcessMessages();
    EXPECT_EQ(Application->ComponentCount(), 1);
}

TEST_F(FrameworkForms, ErrorInAnEventHandlerIsReportedAndTheLoopGoesOn) {
    Application->Title = "Kassa";
    NewForm();
    int after = 0;
    headless::Post([] { throw EStringListError("List index out of bounds (0)"); });
    headless::Post([&] { ++after; });
    Application->ProcessMessages();
    EXPECT_EQ(after, 1);
    ASSERT_EQ(headless::MessageBoxCalls().size(), 1u);
    EXPECT_EQ(headless::MessageBoxCalls()[0].text, "List index out of bounds (0).");
    EXPECT_EQ(headless::MessageBoxCalls()[0].caption, "Kassa");
    EXPECT_EQ(headless::MessageBoxCalls()[0].flags, MB_ICONERROR_ | MB_OK_);
}

TEST_F(FrameworkForms, OneShotTimerFiresAfterThePaint) {
    TForm* form = NewForm();
    auto* timer = new TTimer(form);
    timer->SetEnabled(false);
    timer->SetInterval(1);
    EXPECT_FALSE(headless::TimerArmed(*timer));
    std::vector<std::string> order;
    form->OnPaint = [&](TObject*) {
        order.push_back("paint");
        if (form->Tag > 0) return;
        form->Tag = 1;
        timer->SetEnabled(true);
    };
    timer->OnTimer = [&](TObject* sender) {
        EXPECT_EQ(sender, timer);
        order.push_back("tick");
        timer->SetEnabled(false);
        form->Repaint();
        form->Close();
    };
    Application->Run();
    EXPECT_EQ(order, (std::vector<std::string>{"paint", "tick", "paint"}));
}

TEST_F(FrameworkForms, RepeatingTimerKeepsItsInterval) {
    TForm* form = NewForm();
    form->Show();
    auto* timer = new TTimer(form);
    timer->SetInterval(20);
    std::vector<std::chrono::steady_clock::time_point> ticks;
    const auto start = std::chrono::steady_clock::now();
    timer->OnTimer = [&](TObject*) {
        ticks.push_back(std::chrono::steady_clock::now());
        if (ticks.size() == 3) delete timer;  // a handler may destroy its timer
    };
    while (ticks.size() < 3) Application->HandleMessage();
    for (size_t i = 0; i < ticks.size(); ++i) {
        const auto since = (i == 0 ? ticks[0] - start : ticks[i] - ticks[i - 1]);
        EXPECT_GE(since, std::chrono::milliseconds(20)) << i;
    }
    Application->ProcessMessages();
    EXPECT_EQ(ticks.size(), 3u);
}

TEST_F(FrameworkForms, HandleMessageWakesForAPostFromAnotherThread) {
    NewForm();
    bool ran = false;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        headless::Post([&] { ran = true; });
    });
    Application->HandleMessage();
    poster.join();
    EXPECT_TRUE(ran);
}

