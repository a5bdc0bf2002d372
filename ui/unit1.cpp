#include "ui/unit1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>
#include <thread>

#include "album/errors.h"
#include "album/text.h"
#include "presentation/chromium_browser.h"
#include "presentation/slideshow.h"
#include "ui/application.h"
#include "ui/open_dialog.h"
#include "ui/preview_image.h"
#include "ui/radio_group.h"

namespace zenfo::ui {

namespace {

constexpr int kClientWidth = 616;
constexpr int kClientHeight = 362;
constexpr int kTimerInterval = 5000;

const QColor kGreen(0, 128, 0);
const QColor kWhite(255, 255, 255);
const QColor kYellow(255, 255, 0);

const char* const kFolderChosenText = "指定したフォルダ　↓";

QString Text(const std::string& utf8) {
    return QString::fromStdString(DisplayName(utf8));
}

// The full path of the program's own file, as the file system names it.
std::string ProgramPath() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return path.string();
    return QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
}

int PrimaryScreenDepth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr && screen->depth() > 0 ? screen->depth() : kDefaultDisplayDepth;
}

QSize PrimaryScreenSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry().size() : QSize();
}

std::unique_ptr<Browser> MakeChromiumBrowser() {
    ChromiumOptions options;
    const QSize display = PrimaryScreenSize();
    if (!display.isEmpty()) {
        options.DisplayWidth = display.width();
        options.DisplayHeight = display.height();
    }
    return std::make_unique<ChromiumBrowser>(std::move(options));
}

// Drops the user's input while installed: what was typed or clicked while a run held the
// thread must not act on the window once the run has returned.
class InputDiscarder : public QObject {
  public:
    InputDiscarder() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputDiscarder() override { QCoreApplication::instance()->removeEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Wheel:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::Shortcut:
            case QEvent::ShortcutOverride:
                return true;
            default:
                return false;
        }
    }
};

// Takes in and drops the input that queued up while the thread was held. Timers do not fire
// here, so no slideshow step runs before the handler has ended.
void DiscardQueuedInput() {
    InputDiscarder discarder;
    QGuiApplication::sync();
    QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(false);
    return label;
}

// A label sized to its text grows to the right from its position.
void FitToText(QLabel* label) {
    const QFontMetrics metrics(label->font());
    label->resize(metrics.horizontalAdvance(label->text()), metrics.height());
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect geometry, const QColor& text) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(geometry);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, kGreen);
    palette.setColor(QPalette::Text, text);
    edit->setPalette(palette);
    return edit;
}

RadioGroup* MakeRadioGroup(QWidget* parent, const char* name, const QString& title,
                           const QStringList& items, int columns, QRect geometry, int selected) {
    auto* group = new RadioGroup(title, items, columns, parent);
    group->setObjectName(QString::fromLatin1(name));
    group->setGeometry(geometry);
    group->SetItemIndex(selected);
    return group;
}

}  // namespace

void LazyBrowser::Navigate(const std::string& localPath) {
    if (!browser_) browser_ = factory_();
    browser_->Navigate(localPath);
}

void LazyBrowser::SetFactory(Factory factory) {
    factory_ = std::move(factory);
    browser_.reset();
}

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      displayDepth_(PrimaryScreenDepth()),
      photo_(std::make_unique<LoadedPhoto>(displayDepth_)),
      browserWindow_(MakeChromiumBrowser),
      errorBox_([](QWidget* owner, const QString& caption, const QString& text) {
          QMessageBox::critical(owner, caption, text);
      }) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("HTML用写真サムネイル作成"));
    setWindowIcon(ProgramIcon());
    setFixedSize(kClientWidth, kClientHeight);
    setFont(WindowFont());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kGreen);
    palette.setColor(QPalette::WindowText, kWhite);
    setPalette(palette);
    setAutoFillBackground(true);

    CreateComponents();
    SetTabOrder();

    // Centred on the desktop when first shown.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->geometry();
        move(desktop.x() + (desktop.width() - kClientWidth) / 2,
             desktop.y() + (desktop.height() - kClientHeight) / 2);
    }

    Timer1->start();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::CreateComponents() {
    SelectFolder =
        MakeButton(this, "SelectFolder", QStringLiteral("フォルダの選択"), QRect(230, 6, 120, 27));
    connect(SelectFolder, &QPushButton::clicked, this,
            [this] { Handle(&TForm1::SelectFolderClick); });

    OpenDialog1 = new OpenDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));

    MakeThumbNail = MakeButton(this, "MakeThumbNail", QStringLiteral("サムネイル作成 "),
                               QRect(356, 6, 120, 27));
    connect(MakeThumbNail, &QPushButton::clicked, this, [this] { OnMakeThumbNailClicked(); });

    Image1 = new PreviewImage(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(362, 120, 239, 185);
    Image1->SetPhoto(photo_.get());
    Image1->hide();

    Label1 = MakeLabel(this, "Label1", QString::fromUtf8(kChooseFolderText));
    Label1->setGeometry(12, 6, 244, 19);
    Label2 = MakeLabel(this, "Label2", QString());
    Label2->setGeometry(19, 32, 510, 26);
    Label3 =
        MakeLabel(this, "Label3", QStringLiteral("写真一覧のタイトル（HTML文書に書き込みます）"));
    Label3->setGeometry(21, 229, 268, 17);

    Edit1 = MakeEdit(this, "Edit1", QRect(20, 245, 320, 20), kYellow);

    RadioGroup1 = MakeRadioGroup(this, "RadioGroup1",
                                 QStringLiteral("サムネイルの画像の大きさ（小・中・大）"),
                                 {QStringLiteral(" 64x48 ﾋﾟｸｾﾙ"), QStringLiteral(" 80x60 ﾋﾟｸｾﾙ"),
                                  QStringLiteral("128x96 ﾋﾟｸｾﾙ")},
                                 3, QRect(20, 56, 320, 36), 2);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(360, 150, 241, 155);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setWordWrapMode(QTextOption::NoWrap);
    Memo1->setTabChangesFocus(true);
    {
        // The platform's standard window colours. The window's white text on that light
        // background would hide what the user types, so the field keeps the standard text colour.
        QPalette palette = Memo1->palette();
        palette.setColor(QPalette::Base, QGuiApplication::palette().color(QPalette::Base));
        palette.setColor(QPalette::Text, QGuiApplication::palette().color(QPalette::Text));
        Memo1->setPalette(palette);
    }

    Label4 = MakeLabel(this, "Label4", QStringLiteral("写真の説明（HTML文書に書き込みます）"));
    Label4->setGeometry(365, 126, 236, 17);
    Label5 = MakeLabel(this, "Label5", QString());
    Label5->move(360, 56);
    FitToText(Label5);
    Label5->hide();

    Edit2 = MakeEdit(this, "Edit2", QRect(20, 288, 121, 20), kWhite);
    Edit2->setText(QStringLiteral("photo"));

    Label6 =
        MakeLabel(this, "Label6", QStringLiteral("写真のファイル名の前半（後に番号がつきます）"));
    Label6->move(24, 272);
    FitToText(Label6);

    RadioGroup2 =
        MakeRadioGroup(this, "RadioGroup2", QStringLiteral("本体の画像の大きさ（小・中・大）"),
                       {QStringLiteral("320x240 ﾋﾟｸｾﾙ"), QStringLiteral("512x384 ﾋﾟｸｾﾙ"),
                        QStringLiteral("800x600 ﾋﾟｸｾﾙ")},
                       3, QRect(20, 100, 320, 36), 1);

    CheckBox1 = new QCheckBox(QStringLiteral("サムネイルにファイル名を表示"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(152, 288, 185, 17);

    const QStringList depths = {QStringLiteral("８ビットイメージ"),
                                QStringLiteral("２４ビットイメージ")};
    RadioGroup3 = MakeRadioGroup(this, "RadioGroup3", QStringLiteral("リンク先"),
                                 {QStringLiteral("作成ファイル"), QStringLiteral("元ファイル")}, 2,
                                 QRect(20, 312, 181, 33), 1);
    RadioGroup4 = MakeRadioGroup(this, "RadioGroup4", QStringLiteral("本体の画像のピクセル形式"),
                                 depths, 2, QRect(20, 188, 320, 36), 0);

    Button1 = MakeButton(this, "Button1", QString(), QRect(400, 272, 75, 25));
    Button1->hide();
    connect(Button1, &QPushButton::clicked, this, [this] { Handle(&TForm1::Button1Click); });

    RadioGroup5 =
        MakeRadioGroup(this, "RadioGroup5", QStringLiteral("サムネイルの画像のピクセル形式"),
                       depths, 2, QRect(20, 144, 320, 36), 1);
    RadioGroup6 =
        MakeRadioGroup(this, "RadioGroup6", QStringLiteral("作成後ＨＴＭＬファイルを開く"),
                       {QStringLiteral("ＹＥＳ"), QStringLiteral("SLID"), QStringLiteral("ＮＯ")},
                       3, QRect(408, 312, 193, 33), 0);

    Button2 = MakeButton(this, "Button2", QString(), QRect(488, 272, 75, 25));
    Button2->hide();
    connect(Button2, &QPushButton::clicked, this, [this] { Handle(&TForm1::Button2Click); });

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimerInterval);
    // Each tick is handled from the event queue, not inside the timer's own activation: Qt
    // holds back a timer whose handler has not returned, and a tick's error box must not stop
    // the ticks behind it.
    connect(
        Timer1, &QTimer::timeout, this, [this] { Handle(&TForm1::Timer1Timer); },
        Qt::QueuedConnection);

    // Labels and the image are drawn beneath every other control, in their own creation order.
    for (QWidget* drawn : {static_cast<QWidget*>(Label6), static_cast<QWidget*>(Label5),
                           static_cast<QWidget*>(Label4), static_cast<QWidget*>(Label3),
                           static_cast<QWidget*>(Label2), static_cast<QWidget*>(Label1),
                           static_cast<QWidget*>(Image1)}) {
        drawn->lower();
    }
}

void TForm1::SetTabOrder() {
    // Tab stops 0 to 13; a radio group is one stop, its selected item.
    const QList<QWidget*> stops = {
        SelectFolder, RadioGroup1, Edit1,       Memo1,   MakeThumbNail, Edit2,       RadioGroup2,
        CheckBox1,    RadioGroup3, RadioGroup4, Button1, RadioGroup5,   RadioGroup6, Button2};
    QList<QWidget*> chain;
    for (QWidget* stop : stops) {
        if (auto* group = qobject_cast<RadioGroup*>(stop)) {
            for (QRadioButton* item : group->Items()) chain.append(item);
        } else {
            chain.append(stop);
        }
    }
    for (qsizetype i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
    SelectFolder->setFocus();
}

void TForm1::FormCreate() {
    photoList_.clear();
    Edit1->setText(QStringLiteral("インデックス"));
    Memo1->clear();
    MakeThumbNail->hide();
    ScanPhotoFolder(ProgramPath());
}

void TForm1::FormClose() {
    photoList_ = zenfo::PhotoList();
}

void TForm1::SelectFolderClick() {
    if (const std::optional<std::string> path = OpenDialog1->Execute(this)) {
        ScanPhotoFolder(*path);
    }
    MakeThumbNail->show();
    Label5->hide();
    Label1->setText(QString::fromUtf8(kFolderChosenText));
}

void TForm1::MakeThumbNailClick() {
    // Worker threads prepare the next photos; what the window shows and the files are the same.
    const int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    RunAlbum(RunContext{photoFolder_, photoList_, *photo_, ProcessSlideshow(), jobs}, *this);
    // The window took no input during the run, so this is the choice the run read.
    switch (static_cast<AfterRunChoice>(RadioGroup6->ItemIndex())) {
        case AfterRunChoice::OpenIndex:
            Button1Click();
            break;
        case AfterRunChoice::RunSlideshow:
            Button2Click();
            break;
        case AfterRunChoice::NoAction:
            break;
    }
}

void TForm1::Button1Click() {
    OpenIndexPage(browserWindow_, photoFolder_);
}

void TForm1::Button2Click() {
    StartSlideshow(ProcessSlideshow());
}

void TForm1::Timer1Timer() {
    SlideshowStep(ProcessSlideshow(), browserWindow_, photoFolder_);
}

void TForm1::ScanPhotoFolder(const std::string& filePath) {
    ScannedFolder scanned = zenfo::ScanPhotoFolder(filePath);
    photoFolder_ = std::move(scanned.PhotoFolder);
    photoList_ = std::move(scanned.Photos);
    Label2->setText(Text(photoFolder_));
}

AlbumSettings TForm1::ReadAlbumSettings() {
    AlbumSettings settings;
    settings.Title = Edit1->text().toStdString();
    settings.DescriptionLines = SplitDescription(Memo1->toPlainText().toStdString());
    settings.NamePrefix = Edit2->text().toStdString();
    settings.ThumbSize = static_cast<SizeChoice>(RadioGroup1->ItemIndex());
    settings.BodySize = static_cast<SizeChoice>(RadioGroup2->ItemIndex());
    settings.ThumbDepth = static_cast<DepthChoice>(RadioGroup5->ItemIndex());
    settings.BodyDepth = static_cast<DepthChoice>(RadioGroup4->ItemIndex());
    settings.ShowNames = CheckBox1->isChecked();
    settings.LinkTarget = static_cast<LinkChoice>(RadioGroup3->ItemIndex());
    settings.AfterRun = static_cast<AfterRunChoice>(RadioGroup6->ItemIndex());
    const QSize display = PrimaryScreenSize();
    if (!display.isEmpty()) settings.ScreenWidth = display.width();
    return settings;
}

QWidget* TForm1::ControlOf(RunControl control) const {
    switch (control) {
        case RunControl::Label1:
            return Label1;
        case RunControl::Label2:
            return Label2;
        case RunControl::Label4:
            return Label4;
        case RunControl::Label5:
            return Label5;
        case RunControl::Memo1:
            return Memo1;
        case RunControl::Image1:
            return Image1;
        case RunControl::SelectFolder:
            return SelectFolder;
        case RunControl::MakeThumbNail:
            return MakeThumbNail;
    }
    return nullptr;
}

void TForm1::Show(RunControl control) {
    ControlOf(control)->show();
}

void TForm1::Hide(RunControl control) {
    ControlOf(control)->hide();
}

void TForm1::Enable(RunControl control) {
    ControlOf(control)->setEnabled(true);
}

void TForm1::Disable(RunControl control) {
    ControlOf(control)->setEnabled(false);
}

void TForm1::SetText(RunControl control, const std::string& text) {
    QWidget* widget = ControlOf(control);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(Text(text));
        if (label == Label5) FitToText(label);
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(Text(text));
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) {
        memo->setPlainText(Text(text));
    }
}

// Paints at once without handling any event, so no input reaches the window during a run.
void TForm1::Repaint() {
    repaint();
}

// The window shows progress through Label5's text alone.
void TForm1::Progress(int, int) {}

void TForm1::PreviewChanged(const LoadedPhoto& photo) {
    Image1->SetPhoto(&photo);
}

// A failed run gives the window back for a new folder choice, as a finished run does, keeping
// the progress text of the photo that failed.
void TForm1::RunFailed() {
    SelectFolder->show();
    MakeThumbNail->setEnabled(true);
    MakeThumbNail->hide();
    Image1->hide();
    Label1->setText(QString::fromUtf8(kChooseFolderText));
    Label2->setText(Text(photoFolder_));
    Label4->show();
    Memo1->show();
}

void TForm1::SetBrowserFactory(LazyBrowser::Factory factory) {
    browserWindow_.SetFactory(std::move(factory));
}

void TForm1::ReportError(const std::string& message) {
    errorBox_(this, QString::fromUtf8(kApplicationTitle),
              QString::fromStdString(ErrorReportText(message)));
}

void TForm1::Handle(void (TForm1::*handler)()) {
    try {
        (this->*handler)();
    } catch (const std::exception& error) {
        ReportError(error.what());
    }
}

void TForm1::OnMakeThumbNailClicked() {
    std::string error;
    bool failed = false;
    try {
        MakeThumbNailClick();
    } catch (const std::exception& e) {
        failed = true;
        error = e.what();
    }
    // Clicks and keys given while the run held the window go nowhere, not even to the error box.
    DiscardQueuedInput();
    if (failed) ReportError(error);
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

}  // namespace zenfo::ui
