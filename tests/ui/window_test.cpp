// The main window at start: components, attributes, the settings it gives a run, the folder
// choice and the error report.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <filesystem>

#include "album/test_util.h"
#include "ui/open_dialog.h"
#include "ui/preview_image.h"
#include "ui/radio_group.h"
#include "ui/ui_test_util.h"

namespace zenfo::test {
namespace {

using ui::RadioGroup;
using ui::TForm1;

QString TextOf(const QObject* object) {
    if (auto* label = qobject_cast<const QLabel*>(object)) return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(object)) return button->text();
    if (auto* edit = qobject_cast<const QLineEdit*>(object)) return edit->text();
    if (auto* memo = qobject_cast<const QPlainTextEdit*>(object)) return memo->toPlainText();
    if (auto* group = qobject_cast<const QGroupBox*>(object)) return group->title();
    return QString();
}

// One control of the window as it stands at program start. A width of 0 marks a label sized to
// its text; tab -1 marks a control outside the tab order.
struct ComponentRow {
    const char* name;
    const char* kind;
    QRect geometry;
    const char* text;
    bool visible;
    int tab;
};

const ComponentRow kComponents[] = {
    {"Label1", "QLabel", {12, 6, 244, 19}, "　写真のあるフォルダを指定してください→", true, -1},
    {"SelectFolder", "QPushButton", {230, 6, 120, 27}, "フォルダの選択", true, 0},
    {"MakeThumbNail", "QPushButton", {356, 6, 120, 27}, "サムネイル作成 ", false, 4},
    {"Label2", "QLabel", {19, 32, 510, 26}, nullptr, true, -1},  // the program's folder
    {"RadioGroup1",
     "QGroupBox",
     {20, 56, 320, 36},
     "サムネイルの画像の大きさ（小・中・大）",
     true,
     1},
    {"Label5", "QLabel", {360, 56, 0, 0}, "", false, -1},
    {"RadioGroup2", "QGroupBox", {20, 100, 320, 36}, "本体の画像の大きさ（小・中・大）", true, 6},
    {"Image1", "zenfo::ui::PreviewImage", {362, 120, 239, 185}, "", false, -1},
    {"Label4", "QLabel", {365, 126, 236, 17}, "写真の説明（HTML文書に書き込みます）", true, -1},
    {"RadioGroup5", "QGroupBox", {20, 144, 320, 36}, "サムネイルの画像のピクセル形式", true, 11},
    {"Memo1", "QPlainTextEdit", {360, 150, 241, 155}, "", true, 3},
    {"RadioGroup4", "QGroupBox", {20, 188, 320, 36}, "本体の画像のピクセル形式", true, 9},
    {"Label3",
     "QLabel",
     {21, 229, 268, 17},
     "写真一覧のタイトル（HTML文書に書き込みます）",
     true,
     -1},
    {"Edit1", "QLineEdit", {20, 245, 320, 20}, "インデックス", true, 2},
    {"Label6", "QLabel", {24, 272, 0, 0}, "写真のファイル名の前半（後に番号がつきます）", true, -1},
    {"Button1", "QPushButton", {400, 272, 75, 25}, "", false, 10},
    {"Button2", "QPushButton", {488, 272, 75, 25}, "", false, 13},
    {"Edit2", "QLineEdit", {20, 288, 121, 20}, "photo", true, 5},
    {"CheckBox1", "QCheckBox", {152, 288, 185, 17}, "サムネイルにファイル名を表示", true, 7},
    {"RadioGroup3", "QGroupBox", {20, 312, 181, 33}, "リンク先", true, 8},
    {"RadioGroup6", "QGroupBox", {408, 312, 193, 33}, "作成後ＨＴＭＬファイルを開く", true, 12},
};

struct RadioRow {
    const char* name;
    int columns;
    std::vector<const char*> items;
    int selected;
};

const RadioRow kRadioGroups[] = {
    {"RadioGroup1", 3, {" 64x48 ﾋﾟｸｾﾙ", " 80x60 ﾋﾟｸｾﾙ", "128x96 ﾋﾟｸｾﾙ"}, 2},
    {"RadioGroup2", 3, {"320x240 ﾋﾟｸｾﾙ", "512x384 ﾋﾟｸｾﾙ", "800x600 ﾋﾟｸｾﾙ"}, 1},
    {"RadioGroup5", 2, {"８ビットイメージ", "２４ビットイメージ"}, 1},
    {"RadioGroup4", 2, {"８ビットイメージ", "２４ビットイメージ"}, 0},
    {"RadioGroup3", 2, {"作成ファイル", "元ファイル"}, 1},
    {"RadioGroup6", 3, {"ＹＥＳ", "SLID", "ＮＯ"}, 0},
};

std::string ProgramFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/";
}

// The control that holds the focus: a radio item stands for its group.
std::string FocusedControl(TForm1& form) {
    QWidget* focused = form.focusWidget();
    if (focused == nullptr) return "(none)";
    if (qobject_cast<QRadioButton*>(focused)) focused = focused->parentWidget();
    return focused->objectName().toStdString();
}

// Presses Tab count times from SelectFolder and gives the controls the focus passed through.
std::vector<std::string> TabWalk(TForm1& form, int count) {
    form.SelectFolder->setFocus();
    std::vector<std::string> walk{FocusedControl(form)};
    for (int i = 0; i < count; ++i) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(form.focusWidget(), &tab);
        walk.push_back(FocusedControl(form));
    }
    return walk;
}

TEST(WindowTest, ComponentsStandAsLaidOut) {
    TestWindow window;
    TForm1& form = *window.form;
    std::vector<std::pair<int, std::string>> tabStops;
    for (const ComponentRow& row : kComponents) {
        SCOPED_TRACE(row.name);
        auto* widget = form.findChild<QWidget*>(QString::fromLatin1(row.name));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget(), &form);
        EXPECT_TRUE(widget->inherits(row.kind)) << widget->metaObject()->className();
        const std::string expectedText = row.text ? row.text : ProgramFolder();
        EXPECT_EQ(TextOf(widget).toStdString(), expectedText);
        EXPECT_EQ(widget->isVisibleTo(&form), row.visible);
        if (row.geometry.width() > 0) {
            EXPECT_EQ(widget->geometry(), row.geometry);
        } else {
            // Sized to its text: the whole text fits, growing to the right of its position.
            const QFontMetrics metrics(widget->font());
            EXPECT_EQ(widget->pos(), row.geometry.topLeft());
            EXPECT_GE(widget->width(), metrics.horizontalAdvance(TextOf(widget)));
            EXPECT_GE(widget->height(), metrics.height());
        }
        if (row.tab >= 0 && row.visible) tabStops.emplace_back(row.tab, row.name);
    }
    EXPECT_NE(form.findChild<ui::OpenDialog*>(QStringLiteral("OpenDialog1")), nullptr);
    auto* timer = form.findChild<QTimer*>(QStringLiteral("Timer1"));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 5000);
    EXPECT_TRUE(timer->isActive());
    EXPECT_FALSE(timer->isSingleShot());

    // Tab runs through the visible stops in their order and wraps round to the first.
    std::sort(tabStops.begin(), tabStops.end());
    std::vector<std::string> expected;
    for (const auto& stop : tabStops) expected.push_back(stop.second);
    expected.push_back(expected.front());
    EXPECT_EQ(TabWalk(form, static_cast<int>(tabStops.size())), expected);

    // The generate button takes its place in the order once it is shown.
    form.MakeThumbNail->show();
    const std::vector<std::string> walk = TabWalk(form, 5);
    EXPECT_EQ(walk[3], "Memo1");
    EXPECT_EQ(walk[4], "MakeThumbNail");
    EXPECT_EQ(walk[5], "Edit2");
}

TEST(WindowTest, RadioItemsStandInColumnsOfOneRow) {
    TestWindow window;
    for (const RadioRow& row : kRadioGroups) {
        SCOPED_TRACE(row.name);
        auto* group = window.form->findChild<RadioGroup*>(QString::fromLatin1(row.name));
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(group->Columns(), row.columns);
        EXPECT_EQ(group->ItemIndex(), row.selected);
        ASSERT_EQ(group->Items().size(), static_cast<qsizetype>(row.items.size()));
        int nextLeft = 0;
        for (qsizetype i = 0; i < group->Items().size(); ++i) {
            const QRadioButton* item = group->Items()[i];
            EXPECT_EQ(item->text().toStdString(), row.items[static_cast<std::size_t>(i)]);
            EXPECT_EQ(item->isChecked(), i == row.selected);
            EXPECT_EQ(item->y(), group->Items()[0]->y()) << "item " << i;
            EXPECT_GE(item->x(), nextLeft) << "item " << i;
            EXPECT_LE(item->geometry().right(), group->width() - 1) << "item " << i;
            EXPECT_GT(item->y(), QFontMetrics(group->font()).height() / 2) << "below the title";
            nextLeft = item->geometry().right() + 1;
        }
        // Choosing another item clears the one before: one selected item at all times.
        group->Items().back()->click();
        EXPECT_EQ(group->ItemIndex(), static_cast<int>(row.items.size()) - 1);
        int selected = 0;
        for (const QRadioButton* item : group->Items()) selected += item->isChecked() ? 1 : 0;
        EXPECT_EQ(selected, 1);
    }
}

TEST(WindowTest, WindowAttributes) {
    TestWindow window;
    TForm1& form = *window.form;
    EXPECT_EQ(form.windowTitle().toStdString(), "HTML用写真サムネイル作成");
    EXPECT_EQ(form.minimumSize(), QSize(616, 362));
    EXPECT_EQ(form.maximumSize(), QSize(616, 362));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(0, 128, 0));
    EXPECT_EQ(form.palette().color(QPalette::WindowText), QColor(255, 255, 255));
    EXPECT_EQ(form.font().pixelSize(), 12);
    EXPECT_FALSE(form.font().bold());
    const QString family = form.font().family();
    EXPECT_TRUE(family == "MS PGothic" || family == "IPAPGothic" || family == "Noto Sans CJK JP")
        << family.toStdString();
    // Every control takes the window's typeface.
    for (const QWidget* child : form.findChildren<QWidget*>()) {
        EXPECT_EQ(child->font().family(), family) << child->objectName().toStdString();
        EXPECT_EQ(child->font().pixelSize(), 12) << child->objectName().toStdString();
    }
    EXPECT_EQ(form.Edit1->palette().color(QPalette::Base), QColor(0, 128, 0));
    EXPECT_EQ(form.Edit1->palette().color(QPalette::Text), QColor(255, 255, 0));
    EXPECT_EQ(form.Edit2->palette().color(QPalette::Base), QColor(0, 128, 0));
    EXPECT_EQ(form.Edit2->palette().color(QPalette::Text), QColor(255, 255, 255));
    EXPECT_EQ(form.Memo1->palette().color(QPalette::Base),
              QGuiApplication::palette().color(QPalette::Base));
    // Typed text must stand out from the field's background.
    EXPECT_EQ(form.Memo1->palette().color(QPalette::Text),
              QGuiApplication::palette().color(QPalette::Text));
    EXPECT_NE(form.Memo1->palette().color(QPalette::Text),
              form.Memo1->palette().color(QPalette::Base));
    EXPECT_EQ(form.Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_TRUE(form.Memo1->tabChangesFocus());
    EXPECT_EQ(form.CheckBox1->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    EXPECT_FALSE(form.CheckBox1->isChecked());
    // A path holding "&" or markup shows as it stands.
    EXPECT_EQ(form.Label2->textFormat(), Qt::PlainText);

    const QIcon icon = form.windowIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));

    // Centred on the primary screen.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(form.geometry().center(), screen.center());
}

TEST(WindowTest, FormCreateScansTheProgramsOwnFolder) {
    TestWindow window;
    EXPECT_EQ(window.form->PhotoFolder(), ProgramFolder());
    EXPECT_EQ(window.form->Label2->text().toStdString(), ProgramFolder());
}

TEST(WindowTest, SettingsAtStartAreTheDefaults) {
    TestWindow window;
    const AlbumSettings settings = window.form->ReadAlbumSettings();
    EXPECT_EQ(settings.Title, "インデックス");
    EXPECT_TRUE(settings.DescriptionLines.empty());
    EXPECT_EQ(settings.NamePrefix, "photo");
    EXPECT_EQ(settings.ThumbSize, SizeChoice::Large);
    EXPECT_EQ(settings.BodySize, SizeChoice::Medium);
    EXPECT_EQ(ThumbSide(settings), 128);
    EXPECT_EQ(BodySide(settings), 512);
    EXPECT_EQ(settings.ThumbDepth, DepthChoice::Depth24);
    EXPECT_EQ(settings.BodyDepth, DepthChoice::Depth8);
    EXPECT_FALSE(settings.ShowNames);
    EXPECT_EQ(settings.LinkTarget, LinkChoice::OriginalFile);
    EXPECT_EQ(settings.AfterRun, AfterRunChoice::OpenIndex);
    EXPECT_EQ(settings.ScreenWidth, QGuiApplication::primaryScreen()->geometry().width());
    EXPECT_EQ(window.form->DisplayDepth(), QGuiApplication::primaryScreen()->depth());
}

TEST(WindowTest, SettingsFollowEachControl) {
    TestWindow window;
    TForm1& form = *window.form;
    form.Edit1->setText(QStringLiteral("<b>旅</b> & \"x\""));
    form.Edit2->setText(QStringLiteral("a.b"));
    form.Memo1->setPlainText(QStringLiteral("一行目\n\n三行目\n"));
    form.RadioGroup1->SetItemIndex(0);
    form.RadioGroup2->SetItemIndex(2);
    form.RadioGroup5->SetItemIndex(0);
    form.RadioGroup4->SetItemIndex(1);
    form.CheckBox1->setChecked(true);
    form.RadioGroup3->SetItemIndex(0);
    form.RadioGroup6->SetItemIndex(1);

    const AlbumSettings settings = form.ReadAlbumSettings();
    EXPECT_EQ(settings.Title, "<b>旅</b> & \"x\"");
    EXPECT_EQ(settings.NamePrefix, "a.b");
    EXPECT_EQ(settings.DescriptionLines, (std::vector<std::string>{"一行目", "", "三行目"}));
    EXPECT_EQ(settings.ThumbSize, SizeChoice::Small);
    EXPECT_EQ(settings.BodySize, SizeChoice::Large);
    EXPECT_EQ(BodySide(settings), 800);
    EXPECT_EQ(settings.ThumbDepth, DepthChoice::Depth8);
    EXPECT_EQ(settings.BodyDepth, DepthChoice::Depth24);
    EXPECT_TRUE(settings.ShowNames);
    EXPECT_EQ(settings.LinkTarget, LinkChoice::CreatedFile);
    EXPECT_EQ(settings.AfterRun, AfterRunChoice::RunSlideshow);

    // Reading changes no control.
    EXPECT_EQ(form.ReadAlbumSettings().DescriptionLines, settings.DescriptionLines);
    EXPECT_EQ(form.Memo1->toPlainText().toStdString(), "一行目\n\n三行目\n");

    // A long typed line is not wrapped into two lines; it is cut at 4096 bytes.
    form.Memo1->setPlainText(QString(5000, QLatin1Char('x')));
    const AlbumSettings longLine = form.ReadAlbumSettings();
    ASSERT_EQ(longLine.DescriptionLines.size(), 1u);
    EXPECT_EQ(longLine.DescriptionLines[0].size(), 4096u);
}

TEST(WindowTest, FolderChoiceShowsTheGenerateButton) {
    TempDir dir;
    WriteJpeg(dir.File("b.JPG"), 8, 8, Qt::red);
    WriteJpeg(dir.File("a.jpg"), 8, 8, Qt::blue);
    TestWindow window;
    TForm1& form = *window.form;
    const std::string startFolder = form.PhotoFolder();
    EXPECT_FALSE(form.MakeThumbNail->isVisibleTo(&form));

    // Cancelled: no scan, but the window is ready to run on the folder scanned before.
    int shown = 0;
    form.OpenDialog1->SetChooser([&](QFileDialog&) -> std::optional<QString> {
        ++shown;
        return std::nullopt;
    });
    form.Label5->show();
    form.SelectFolder->click();
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(form.MakeThumbNail->isVisibleTo(&form));
    EXPECT_FALSE(form.Label5->isVisibleTo(&form));
    EXPECT_EQ(form.Label1->text().toStdString(), "指定したフォルダ　↓");
    EXPECT_EQ(form.PhotoFolder(), startFolder);
    EXPECT_EQ(form.Label2->text().toStdString(), startFolder);

    // Confirmed: a typed name that does not exist chooses its folder.
    QStringList filters;
    form.OpenDialog1->SetChooser([&](QFileDialog& dialog) -> std::optional<QString> {
        filters = dialog.nameFilters();
        EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_TRUE(dialog.isSizeGripEnabled());
        return QString::fromStdString(dir.File("not-there.jpg"));
    });
    form.MakeThumbNail->hide();
    form.SelectFolder->click();
    EXPECT_TRUE(form.MakeThumbNail->isVisibleTo(&form));
    EXPECT_EQ(form.PhotoFolder(), dir.Path());
    EXPECT_EQ(form.Label2->text().toStdString(), dir.Path());
    ASSERT_EQ(form.Photos().size(), 2u);
    EXPECT_EQ(form.Photos()[0].Name, "a.jpg");
    EXPECT_EQ(form.Photos()[1].Name, "b.jpg");
    EXPECT_EQ(form.Photos()[1].DiskName, "b.JPG");
    ASSERT_EQ(filters.size(), 1);
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("JPEGﾌｧｲﾙ ("))) << filters[0].toStdString();

    // The next time the dialog opens on the file confirmed before.
    form.OpenDialog1->SetChooser([&](QFileDialog& dialog) -> std::optional<QString> {
        EXPECT_EQ(dialog.directory().absolutePath().toStdString() + "/", dir.Path());
        EXPECT_EQ(dialog.selectedFiles().value(0).toStdString(), dir.File("not-there.jpg"));
        return std::nullopt;
    });
    form.SelectFolder->click();
    EXPECT_EQ(form.PhotoFolder(), dir.Path());
    EXPECT_EQ(form.Photos().size(), 2u);

    // Closing the window releases the list.
    form.close();
    EXPECT_TRUE(form.Photos().empty());
}

TEST(WindowTest, DialogFilterMatchesJpegNamesInAnyCase) {
    const QString filter = ui::OpenDialog::Filter();
    const QRegularExpression entry(QStringLiteral("^(.*) \\((.*)\\)$"));
    const QRegularExpressionMatch parts = entry.match(filter);
    ASSERT_TRUE(parts.hasMatch()) << filter.toStdString();
    EXPECT_EQ(parts.captured(1).toStdString(), "JPEGﾌｧｲﾙ");
    const QStringList patterns = parts.captured(2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const auto matches = [&](const QString& name) {
        for (const QString& pattern : patterns) {
            if (QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive).match(name).hasMatch())
                return true;
        }
        return false;
    };
    for (const char* name : {"a.jpg", "A.JPG", "b.Jpg", "c.jpeg", "D.JPEG", "e.jPeG", "海.jpg"}) {
        EXPECT_TRUE(matches(QString::fromUtf8(name))) << name;
    }
    for (const char* name : {"a.jpe", "a.jfif", "a.jpg.txt", "jpg", "a.png"}) {
        EXPECT_FALSE(matches(QString::fromUtf8(name))) << name;
    }
}

TEST(WindowTest, ErrorReportAppendsDotAfterHigherLastByte) {
    TestWindow window;
    const std::pair<const char*, const char*> cases[] = {
        {"ファイル名の指定が間違っています", "ファイル名の指定が間違っています."},
        {"JPEG エラー #53", "JPEG エラー #53."},
        {"ends with a dot.", "ends with a dot."},
        {"ends with a bang!", "ends with a bang!"},
        {"ends with a letter", "ends with a letter."},
        {"I/O エラー (5)", "I/O エラー (5)"},
        {"", ""},
    };
    for (const auto& [message, shown] : cases) {
        window.errors.clear();
        window.form->ReportError(message);
        ASSERT_EQ(window.errors.size(), 1u) << message;
        EXPECT_EQ(window.errors[0], shown) << message;
        EXPECT_EQ(window.captions.back(), "ゼンフォ");
    }
}

}  // namespace
}  // namespace zenfo::test
