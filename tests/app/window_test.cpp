// The main window on the real Qt widgets (offscreen platform).

#include "platform/window.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/program.h"
#include "app/settings.h"
#include "platform/codepage.h"
#include "platform/events.h"
#include "platform/qt/qt_window.h"
#include "tests/http/test_server.h"

using pelmora::platform::Control;
using pelmora::platform::Window;
using pelmora::platform::WindowHandlers;

namespace {

std::string Gbk(std::u16string_view text) { return pelmora::platform::EncodeCodePage(text, 936); }

int g_argc = 1;
char g_arg0[] = "window_tests";
char* g_argv[] = {g_arg0, nullptr};

std::unique_ptr<Window> MakeWindow(WindowHandlers handlers = {}) {
  return pelmora::platform::CreateQtWindow(g_argc, g_argv, std::move(handlers));
}

QWidget* MainForm() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->windowTitle() == QStringLiteral("Vornak--Pelmora") && widget->isVisible()) {
      return widget;
    }
  }
  return nullptr;
}

template <typename T>
T* Find(const char* name) {
  QWidget* form = MainForm();
  return form != nullptr ? form->findChild<T*>(QString::fromUtf8(name)) : nullptr;
}

// Types each character as a key press carrying its text.
void TypeText(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}

// Dismisses the next modal box once it shows, noting its kind and texts.
struct BoxWatcher {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool seen = false;

  void Arm(QObject* receiver) {
    QTimer::singleShot(20, receiver, [this, receiver] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) {
        Arm(receiver);
        return;
      }
      seen = true;
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      box->accept();
    });
  }
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void windowFrame();
  void controlsAsLaidOut();
  void listColumns();
  void onCreatedRunsWithControlsInPlace();
  void buttonsCallTheirHandlers();
  void controlTextRoundTrip_data();
  void controlTextRoundTrip();
  void editedBoxKeepsItsLineBreaks();
  void insertRowPositions();
  void cellsOutsideTheList();
  void findRowByCell();
  void rowKeysFollowTheirRow();
  void workerCallsRunOnTheWindowThread();
  void closingReleasesWaitingWorkers();
  void runEndsWhenClosedFromAnotherThread();
  void errorBoxIsTheEventSink();
  void cookieFileLoadsAndSavesByteForByte_data();
  void cookieFileLoadsAndSavesByteForByte();
  void failedCookieSaveShowsTheBox();
  void scanAndDownloadThroughTheWindow();
  void closingDuringDownloadsEnds();
};

void WindowTest::windowFrame() {
  auto window = MakeWindow();
  QWidget* form = MainForm();
  QVERIFY(form != nullptr);
  QCOMPARE(form->windowTitle(), QStringLiteral("Vornak--Pelmora"));
  QCOMPARE(form->size(), QSize(452, 460));
  QCOMPARE(form->minimumSize(), QSize(452, 460));
  QCOMPARE(form->maximumSize(), QSize(452, 460));
  const Qt::WindowFlags flags = form->windowFlags();
  QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
  QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
  QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
  QVERIFY(!form->windowIcon().isNull());
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect frame = form->frameGeometry();
  QCOMPARE(frame.left() - screen.left(), (screen.width() - frame.width()) / 2);
  QCOMPARE(frame.top() - screen.top(), (screen.height() - frame.height()) / 2);
}

void WindowTest::controlsAsLaidOut() {
  auto window = MakeWindow();
  struct Expected {
    const char* name;
    const char* kind;
    QRect geometry;
    const char* text;
  };
  const Expected expected[] = {
      {"标签1", "QLabel", {8, 40, 80, 32}, "博文地址"},
      {"编辑框1", "QLineEdit", {88, 32, 360, 40}, ""},
      {"超级列表框1", "QTreeWidget", {0, 88, 448, 208}, nullptr},
      {"标签2", "QLabel", {16, 320, 48, 24}, "保存路径"},
      {"编辑框4", "QLineEdit", {96, 312, 152, 32}, ""},
      {"按钮1", "QPushButton", {256, 312, 80, 32}, "加载页面"},
      {"按钮2", "QPushButton", {352, 312, 80, 32}, "下载"},
      {"标签4", "QLabel", {256, 352, 208, 24}, "CK 浏览器按12 随便都能找到"},
      {"编辑框3", "QPlainTextEdit", {96, 360, 152, 80}, ""},
      {"标签5", "QLabel", {256, 384, 176, 24}, "提示数组错误就是CK失效了"},
      {"标签3", "QLabel", {36, 402, 28, 24}, "CK框"},
      {"按钮3", "QPushButton", {248, 416, 80, 32}, "保存CK"},
      {"编辑框2", "QPlainTextEdit", {464, 0, 88, 48}, ""},
      {"编辑框5", "QPlainTextEdit", {472, 104, 88, 48}, ""},
  };
  for (const Expected& control : expected) {
    const QByteArray label = QByteArray("control ") + control.name;
    auto* widget = Find<QWidget>(control.name);
    QVERIFY2(widget != nullptr, label.constData());
    QVERIFY2(widget->inherits(control.kind), label.constData());
    QCOMPARE(widget->geometry(), control.geometry);
    QVERIFY2(widget->isVisible() && widget->isEnabled(), label.constData());
    if (control.text == nullptr) {
      continue;
    }
    QString text;
    if (auto* l = qobject_cast<QLabel*>(widget)) {
      text = l->text();
    } else if (auto* e = qobject_cast<QLineEdit*>(widget)) {
      text = e->text();
    } else if (auto* b = qobject_cast<QPushButton*>(widget)) {
      text = b->text();
    } else if (auto* m = qobject_cast<QPlainTextEdit*>(widget)) {
      text = m->toPlainText();
    }
    QCOMPARE(text, QString::fromUtf8(control.text));
  }
  // Only the box that shows the folder is read-only; multi-line boxes wrap
  // and show no scroll bars.
  QVERIFY(Find<QLineEdit>("编辑框4")->isReadOnly());
  QVERIFY(!Find<QLineEdit>("编辑框1")->isReadOnly());
  for (const char* name : {"编辑框3", "编辑框2", "编辑框5"}) {
    auto* box = Find<QPlainTextEdit>(name);
    QCOMPARE(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(!box->isReadOnly());
  }
  // The text holders lie beyond the client area.
  for (const char* name : {"编辑框2", "编辑框5"}) {
    QVERIFY(!MainForm()->rect().intersects(Find<QWidget>(name)->geometry()));
  }
}

void WindowTest::listColumns() {
  auto window = MakeWindow();
  auto* list = Find<QTreeWidget>("超级列表框1");
  QVERIFY(list != nullptr);
  QCOMPARE(list->columnCount(), 3);
  const QStringList titles = {QStringLiteral("数量"), QStringLiteral("链接"),
                              QStringLiteral("下载")};
  const int widths[] = {50, 280, 100};
  for (int column = 0; column < 3; ++column) {
    QCOMPARE(list->headerItem()->text(column), titles[column]);
    QCOMPARE(list->columnWidth(column), widths[column]);
  }
  QVERIFY(!list->header()->isHidden());
  QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
  QVERIFY(!list->isSortingEnabled());
  QVERIFY(!list->rootIsDecorated());
  QCOMPARE(list->topLevelItemCount(), 0);
}

void WindowTest::onCreatedRunsWithControlsInPlace() {
  int calls = 0;
  std::string seen;
  WindowHandlers handlers;
  handlers.onCreated = [&](Window& w) {
    ++calls;
    w.SetControlText(Control::kCookieBox, "a=1");
    w.InsertRow(-1, "1");
    seen = w.GetControlText(Control::kCookieBox);
  };
  auto window = MakeWindow(std::move(handlers));
  QCOMPARE(calls, 1);
  QCOMPARE(seen, std::string("a=1"));
  QCOMPARE(Find<QPlainTextEdit>("编辑框3")->toPlainText(), QStringLiteral("a=1"));
  QCOMPARE(window->RowCount(), 1);
}

void WindowTest::buttonsCallTheirHandlers() {
  std::vector<std::string> clicks;
  WindowHandlers handlers;
  handlers.onLoadPage = [&](Window&) { clicks.emplace_back("load"); };
  handlers.onDownload = [&](Window&) { clicks.emplace_back("download"); };
  handlers.onSaveCookie = [&](Window&) { clicks.emplace_back("save"); };
  auto window = MakeWindow(std::move(handlers));
  QTest::mouseClick(Find<QPushButton>("按钮1"), Qt::LeftButton);
  QTest::mouseClick(Find<QPushButton>("按钮2"), Qt::LeftButton);
  QTest::mouseClick(Find<QPushButton>("按钮3"), Qt::LeftButton);
  QCOMPARE(clicks, (std::vector<std::string>{"load", "download", "save"}));

  window->SetControlEnabled(Control::kLoadButton, false);
  QVERIFY(!Find<QPushButton>("按钮1")->isEnabled());
  QTest::mouseClick(Find<QPushButton>("按钮1"), Qt::LeftButton);
  QCOMPARE(clicks.size(), std::size_t{3});
  window->SetControlEnabled(Control::kLoadButton, true);
  QVERIFY(Find<QPushButton>("按钮1")->isEnabled());
}

void WindowTest::controlTextRoundTrip_data() {
  QTest::addColumn<int>("control");
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<QString>("shown");

  const std::string chinese = Gbk(u"博文 CK=值;\r\n第二行\r\n");
  QTest::newRow("cookie box, CRLF lines and Chinese")
      << static_cast<int>(Control::kCookieBox) << QByteArray::fromStdString(chinese)
      << QStringLiteral("博文 CK=值;\n第二行\n");
  QTest::newRow("cookie box, LF and lone CR")
      << static_cast<int>(Control::kCookieBox) << QByteArray("a=1\nb=2\rc")
      << QStringLiteral("a=1\nb=2\nc");
  // A lead byte without its trail byte cannot be shown, but comes back as set.
  QTest::newRow("page box, bytes that do not convert")
      << static_cast<int>(Control::kPageBox) << QByteArray("x\x81 y\xff") << QString();
  QTest::newRow("address box, longer than a line edit's usual cap")
      << static_cast<int>(Control::kAddressBox) << QByteArray(40000, 'u')
      << QString(40000, QLatin1Char('u'));
  QTest::newRow("folder box, Chinese")
      << static_cast<int>(Control::kFolderBox)
      << QByteArray::fromStdString(Gbk(u"/home/u/图片下载")) << QStringLiteral("/home/u/图片下载");
  QTest::newRow("scratch box, empty")
      << static_cast<int>(Control::kScratchBox) << QByteArray() << QString();
}

void WindowTest::controlTextRoundTrip() {
  QFETCH(int, control);
  QFETCH(QByteArray, bytes);
  QFETCH(QString, shown);
  auto window = MakeWindow();
  const auto which = static_cast<Control>(control);
  window->SetControlText(which, bytes.toStdString());
  QCOMPARE(window->GetControlText(which), bytes.toStdString());
  if (shown.isNull()) {
    return;
  }
  const char* names[] = {"编辑框1", "编辑框2", "编辑框3", "编辑框4", "编辑框5"};
  QWidget* widget = Find<QWidget>(names[control]);
  if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    QCOMPARE(line->text(), shown);
  } else {
    QCOMPARE(qobject_cast<QPlainTextEdit*>(widget)->toPlainText(), shown);
  }
}

void WindowTest::editedBoxKeepsItsLineBreaks() {
  auto window = MakeWindow();
  auto* box = Find<QPlainTextEdit>("编辑框3");
  window->SetControlText(Control::kCookieBox, Gbk(u"甲=1\r\n乙=2"));
  box->setFocus();
  box->moveCursor(QTextCursor::End);
  QTest::keyClick(box, Qt::Key_Return);
  TypeText(box, QStringLiteral("丙=3"));
  QCOMPARE(window->GetControlText(Control::kCookieBox), Gbk(u"甲=1\r\n乙=2\r\n丙=3"));

  window->SetControlText(Control::kCookieBox, "a");
  box->moveCursor(QTextCursor::End);
  QTest::keyClick(box, Qt::Key_Return);
  QTest::keyClicks(box, QStringLiteral("b"));
  QCOMPARE(window->GetControlText(Control::kCookieBox), std::string("a\nb"));

  // Editing one line leaves the others' breaks as they were.
  window->SetControlText(Control::kCookieBox, "a\r\nb\nc\rd");
  QTextCursor cursor = box->textCursor();
  cursor.setPosition(3);  // after "b"
  box->setTextCursor(cursor);
  TypeText(box, QStringLiteral("X"));
  QCOMPARE(window->GetControlText(Control::kCookieBox), std::string("a\r\nbX\nc\rd"));

  auto* address = Find<QLineEdit>("编辑框1");
  window->SetControlText(Control::kAddressBox, "http://h/");
  address->setFocus();
  address->end(false);
  TypeText(address, QStringLiteral("博"));
  QCOMPARE(window->GetControlText(Control::kAddressBox), "http://h/" + Gbk(u"博"));
}

void WindowTest::insertRowPositions() {
  auto window = MakeWindow();
  auto* list = Find<QTreeWidget>("超级列表框1");
  struct Step {
    int position;
    const char* text;
    int index;
  };
  const Step steps[] = {
      {0, "a", 0},   // into the empty list
      {0, "b", 0},   // at the top
      {-1, "c", 2},  // negative appends
      {1, "d", 1},   // in between
      {9, "e", 4},   // past the end appends
      {-7, "f", 5},
  };
  for (const Step& step : steps) {
    QCOMPARE(window->InsertRow(step.position, step.text), step.index);
  }
  const QStringList order = {"b", "d", "a", "c", "e", "f"};
  QCOMPARE(window->RowCount(), order.size());
  for (int row = 0; row < order.size(); ++row) {
    QCOMPARE(list->topLevelItem(row)->text(0), order[row]);
    QCOMPARE(window->GetCellText(row, 0), order[row].toStdString());
    QCOMPARE(window->GetCellText(row, 1), std::string());
    QCOMPARE(window->GetCellText(row, 2), std::string());
  }
  window->DeleteAllRows();
  QCOMPARE(window->RowCount(), 0);
  QCOMPARE(list->topLevelItemCount(), 0);
}

void WindowTest::cellsOutsideTheList() {
  auto window = MakeWindow();
  const std::string waiting = Gbk(u"未下载");
  window->InsertRow(0, "1");
  window->SetCellText(0, 1, "http://h/1.jpg");
  window->SetCellText(0, 2, waiting);
  QCOMPARE(Find<QTreeWidget>("超级列表框1")->topLevelItem(0)->text(2), QStringLiteral("未下载"));
  QCOMPARE(window->GetCellText(0, 2), waiting);

  struct Cell {
    int row;
    int column;
  };
  for (const Cell cell : {Cell{1, 0}, Cell{-1, 0}, Cell{0, 3}, Cell{0, -1}, Cell{100, 2}}) {
    window->SetCellText(cell.row, cell.column, "x");
    QCOMPARE(window->GetCellText(cell.row, cell.column), std::string());
  }
  for (const int row : {1, -1, 100}) {
    QCOMPARE(window->RowKey(row), std::uint64_t{0});
  }
  QCOMPARE(window->RowCount(), 1);
  QCOMPARE(window->GetCellText(0, 0), std::string("1"));
  QCOMPARE(window->GetCellText(0, 1), std::string("http://h/1.jpg"));
  QCOMPARE(window->GetCellText(0, 2), waiting);
  // A cell holds any length.
  const std::string link(100000, 'k');
  window->SetCellText(0, 1, link);
  QCOMPARE(window->GetCellText(0, 1), link);
}

void WindowTest::findRowByCell() {
  auto window = MakeWindow();
  const std::string waiting = Gbk(u"未下载");
  const std::string busy = Gbk(u"下载中");
  for (int n = 0; n < 5; ++n) {
    window->InsertRow(-1, std::to_string(n + 1));
    window->SetCellText(n, 2, n == 1 || n == 3 ? waiting : busy);
    window->SetCellText(n, 1, n == 4 ? "http://H/x" : "http://h/x");
  }
  struct Case {
    const char* label;
    std::string text;
    int firstRow;
    int column;
    int row;
  };
  const Case cases[] = {
      {"first match", waiting, 0, 2, 1},
      {"negative first row counts as 0", waiting, -5, 2, 1},
      {"from a later row", waiting, 2, 2, 3},
      {"starting on the match", waiting, 3, 2, 3},
      {"none after the first row", waiting, 4, 2, -1},
      {"first row past the end", waiting, 9, 2, -1},
      {"case matters", "http://H/x", 0, 1, 4},
      {"whole cell only", Gbk(u"下载"), 0, 2, -1},
      {"column out of range", waiting, 0, 3, -1},
      {"negative column", waiting, 0, -1, -1},
      {"empty text matches no filled cell", "", 0, 2, -1},
  };
  for (const Case& c : cases) {
    QVERIFY2(window->FindRowByCell(c.text, c.firstRow, c.column) == c.row, c.label);
  }
  window->DeleteAllRows();
  QCOMPARE(window->FindRowByCell(waiting, 0, 2), -1);
}

void WindowTest::rowKeysFollowTheirRow() {
  auto window = MakeWindow();
  window->InsertRow(0, "1");
  const std::uint64_t first = window->RowKey(0);
  QVERIFY(first != 0);
  window->InsertRow(0, "2");
  window->InsertRow(0, "3");
  const std::uint64_t third = window->RowKey(0);
  QVERIFY(third != first && third != window->RowKey(1));
  QCOMPARE(window->RowKey(2), first);

  // The row has moved down two places; the mark still lands on it.
  QVERIFY(window->SetCellTextByKey(first, 2, "done"));
  QCOMPARE(window->GetCellText(2, 2), std::string("done"));
  QCOMPARE(window->GetCellText(0, 2), std::string());
  QVERIFY(!window->SetCellTextByKey(first, 3, "x"));

  // A rebuilt list never matches an old key, though the index exists again.
  window->DeleteAllRows();
  QVERIFY(!window->SetCellTextByKey(first, 2, "late"));
  window->InsertRow(0, "1");
  window->InsertRow(0, "2");
  window->InsertRow(0, "3");
  QVERIFY(!window->SetCellTextByKey(first, 2, "late"));
  QVERIFY(!window->SetCellTextByKey(third, 2, "late"));
  for (int row = 0; row < 3; ++row) {
    QCOMPARE(window->GetCellText(row, 2), std::string());
    QVERIFY(window->RowKey(row) > third);
  }
  QVERIFY(!window->SetCellTextByKey(0, 2, "x"));
}

void WindowTest::workerCallsRunOnTheWindowThread() {
  auto window = MakeWindow();
  auto* list = Find<QTreeWidget>("超级列表框1");
  std::vector<QThread*> insertThreads;
  QObject receiver;
  QObject::connect(
      list->model(), &QAbstractItemModel::rowsInserted, &receiver,
      [&] { insertThreads.push_back(QThread::currentThread()); }, Qt::DirectConnection);

  constexpr int kWorkers = 4;
  constexpr int kRowsEach = 25;
  std::atomic<int> finished{0};
  std::vector<std::jthread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int n = 0; n < kRowsEach; ++n) {
        // Rows are only appended here, so an index stays valid.
        const int row = window->InsertRow(-1, std::to_string(w));
        window->SetCellText(row, 2, "w");
        const std::uint64_t key = window->RowKey(row);
        window->SetCellTextByKey(key, 1, "k");
      }
      finished.fetch_add(1);
    });
  }
  QTRY_COMPARE(finished.load(), kWorkers);
  workers.clear();
  QCOMPARE(window->RowCount(), kWorkers * kRowsEach);
  QCOMPARE(static_cast<int>(insertThreads.size()), kWorkers * kRowsEach);
  for (QThread* thread : insertThreads) {
    QCOMPARE(thread, qApp->thread());
  }
  for (int row = 0; row < window->RowCount(); ++row) {
    QCOMPARE(window->GetCellText(row, 1), std::string("k"));
  }
}

void WindowTest::closingReleasesWaitingWorkers() {
  // The closing handler waits for a worker that keeps calling the window;
  // the worker must be let go instead of waiting for the window thread.
  std::jthread worker;
  std::atomic<bool> started{false};
  int lastIndex = 0;
  bool releasedEmpty = false;
  bool closingRan = false;
  WindowHandlers handlers;
  handlers.onClosing = [&](Window&) {
    closingRan = true;
    worker.join();
  };
  auto window = MakeWindow(std::move(handlers));
  worker = std::jthread([&] {
    started = true;
    int index = 0;
    while ((index = window->InsertRow(-1, "r")) >= 0) {
    }
    lastIndex = index;
    // Every other call now gives its "nothing there" value at once.
    releasedEmpty = window->GetControlText(Control::kAddressBox).empty() &&
                    window->RowCount() == 0 && !window->SetCellTextByKey(1, 2, "x") &&
                    window->RowKey(0) == 0;
  });
  QTRY_VERIFY(started.load());
  QTRY_VERIFY(window->RowCount() > 3);
  window->Close();
  QTRY_VERIFY(closingRan);
  QCOMPARE(lastIndex, -1);
  QVERIFY(releasedEmpty);
  QVERIFY(!worker.joinable());
  // The window thread still works on its own list after closing.
  QVERIFY(window->RowCount() > 3);
}

void WindowTest::runEndsWhenClosedFromAnotherThread() {
  int closing = 0;
  std::jthread closer;
  WindowHandlers handlers;
  handlers.onCreated = [&](Window& w) {
    closer = std::jthread([&w] {
      w.InsertRow(-1, "from a worker");
      w.Close();
    });
  };
  handlers.onClosing = [&](Window&) { ++closing; };
  auto window = MakeWindow(std::move(handlers));
  QCOMPARE(window->Run(), 0);
  QCOMPARE(closing, 1);
  QCOMPARE(window->RowCount(), 1);
  // A second close, or one after the loop, runs the handler no more.
  window->Close();
  QTest::qWait(20);
  QCOMPARE(closing, 1);
  QCOMPARE(window->Run(), 0);
}

void WindowTest::errorBoxIsTheEventSink() {
  auto window = MakeWindow();
  QObject receiver;

  BoxWatcher watcher;
  watcher.Arm(&receiver);
  pelmora::platform::ShowErrorBox(Gbk(u"错误"), Gbk(u"运行时出错!"));
  QVERIFY(watcher.seen);
  QCOMPARE(watcher.title, QStringLiteral("错误"));
  QCOMPARE(watcher.text, QStringLiteral("运行时出错!"));
  QCOMPARE(watcher.icon, QMessageBox::Critical);

  // From a worker: shown by the window thread, and the worker waits for it.
  BoxWatcher fromWorker;
  fromWorker.Arm(&receiver);
  std::atomic<bool> returned{false};
  std::jthread worker([&] {
    window->ShowErrorBox("t", "x");
    returned = true;
  });
  QTRY_VERIFY(returned.load());
  QVERIFY(fromWorker.seen);
  QCOMPARE(fromWorker.text, QStringLiteral("x"));

  // Pumping events carries out queued calls.
  std::atomic<bool> inserted{false};
  std::jthread inserter([&] {
    window->InsertRow(-1, "p");
    inserted = true;
  });
  while (!inserted.load()) {
    pelmora::platform::ProcessPendingEvents();
  }
  QCOMPARE(window->RowCount(), 1);

  window.reset();
  // Without a window the box goes elsewhere and does not block.
  pelmora::platform::ShowErrorBox("t", "after");
}

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

void WindowTest::cookieFileLoadsAndSavesByteForByte_data() {
  QTest::addColumn<bool>("present");
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<QByteArray>("loaded");

  const QByteArray lines("SUB=abc; SUBP=0033\r\nSINAGLOBAL=1.2.3\r\n\r\nlast\n");
  QTest::newRow("several lines") << true << lines << lines;
  const QByteArray chinese = QByteArray::fromStdString(Gbk(u"名字=张三; 城市=北京\r\n备注=值"));
  QTest::newRow("Chinese in GBK") << true << chinese << chinese;
  QTest::newRow("a zero byte ends the text")
      << true << QByteArray("a=1; b=2\0c=3", 12) << QByteArray("a=1; b=2");
  QTest::newRow("empty file") << true << QByteArray() << QByteArray();
  QTest::newRow("missing file") << false << QByteArray() << QByteArray();
}

void WindowTest::cookieFileLoadsAndSavesByteForByte() {
  QFETCH(bool, present);
  QFETCH(QByteArray, file);
  QFETCH(QByteArray, loaded);
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const std::filesystem::path root = dir.path().toStdString();
  const std::filesystem::path cookieFile = root / "CK.TXT";
  if (present) {
    WriteAll(cookieFile, file.toStdString());
  }
  pelmora::app::InitGlobals({.downloadFolder = root / "图片下载", .cookieFile = cookieFile});
  auto window = MakeWindow(pelmora::app::MainWindowHandlers());

  auto* box = Find<QPlainTextEdit>("编辑框3");
  QCOMPARE(window->GetControlText(Control::kCookieBox), loaded.toStdString());
  QCOMPARE(box->toPlainText(),
           QString::fromStdU16String(pelmora::platform::DecodeCodePage(loaded.toStdString(), 936))
               .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  QCOMPARE(Find<QLineEdit>("编辑框4")->text(),
           QString::fromStdString((root / "图片下载").string()));
  // Loading never creates the file.
  QCOMPARE(std::filesystem::exists(cookieFile), present);

  QTest::mouseClick(Find<QPushButton>("按钮3"), Qt::LeftButton);
  QCOMPARE(ReadAll(cookieFile), loaded.toStdString());
  const auto perms = std::filesystem::status(cookieFile).permissions();
  QCOMPARE(perms & std::filesystem::perms::all,
           std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  // Nothing but the cookie file is left in its folder.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(root)) {
    ++entries;
  }
  QCOMPARE(entries, 1);

  // What the user types is saved too, and loads again as it was.
  box->setFocus();
  box->moveCursor(QTextCursor::End);
  TypeText(box, QStringLiteral("新=1"));
  QTest::mouseClick(Find<QPushButton>("按钮3"), Qt::LeftButton);
  const std::string typed = loaded.toStdString() + Gbk(u"新=1");
  QCOMPARE(ReadAll(cookieFile), typed);
  window.reset();
  pelmora::app::ExitCleanup();
  pelmora::app::InitGlobals({.downloadFolder = root / "图片下载", .cookieFile = cookieFile});
  window = MakeWindow(pelmora::app::MainWindowHandlers());
  QCOMPARE(window->GetControlText(Control::kCookieBox), typed);
  window.reset();
  pelmora::app::ExitCleanup();
}

void WindowTest::failedCookieSaveShowsTheBox() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const std::filesystem::path root = dir.path().toStdString();
  // The cookie file's folder cannot be made: a plain file holds its name.
  WriteAll(root / "blocker", "x");
  const std::filesystem::path cookieFile = root / "blocker" / "CK.TXT";
  pelmora::app::InitGlobals({.downloadFolder = root / "pics", .cookieFile = cookieFile});
  auto window = MakeWindow(pelmora::app::MainWindowHandlers());
  window->SetControlText(Control::kCookieBox, "a=1");

  QObject receiver;
  BoxWatcher watcher;
  watcher.Arm(&receiver);
  QTest::mouseClick(Find<QPushButton>("按钮3"), Qt::LeftButton);
  QVERIFY(watcher.seen);
  QCOMPARE(watcher.title, QStringLiteral("错误"));
  QVERIFY2(watcher.text.startsWith(QStringLiteral("保存CK失败: ")), qPrintable(watcher.text));
  QVERIFY(watcher.text.size() > QStringLiteral("保存CK失败: ").size());
  QCOMPARE(watcher.icon, QMessageBox::Critical);
  // The box keeps its text, and the program goes on.
  QCOMPARE(window->GetControlText(Control::kCookieBox), std::string("a=1"));
  QCOMPARE(ReadAll(root / "blocker"), std::string("x"));
  window.reset();
  pelmora::app::ExitCleanup();
}

namespace {

// A page whose picture block lists `paths` on `server`, every "/" and ":"
// percent-encoded as pages carry them.
std::string PageListing(const pelmora::testing::TestServer& server,
                        const std::vector<std::string>& paths) {
  std::string block;
  for (const std::string& path : paths) {
    const std::string link = "//127.0.0.1:" + std::to_string(server.httpPort()) + path;
    block += block.empty() ? "" : ",";
    for (const char c : link) {
      block += c == '/' ? std::string("%2F") : c == ':' ? std::string("%3A") : std::string(1, c);
    }
  }
  return "<html><script>var x = \"clear_picSrc=" + block + "&thumb_picSrc=%2F%2Fthumb\";</script>";
}

int RowsInState(Window& window, const std::string& state) {
  int count = 0;
  for (int row = 0; row < window.RowCount(); ++row) {
    count += window.GetCellText(row, 2) == state ? 1 : 0;
  }
  return count;
}

}  // namespace

// The scan pumps the window's events while workers call in from other threads:
// the real window must carry both without stalling.
void WindowTest::scanAndDownloadThroughTheWindow() {
  const std::string jpeg =
      ReadAll(std::filesystem::path(PELMORA_CORPUS_DIR) / "libjpeg-turbo" / "testorig.jpg");
  if (jpeg.empty()) {
    QSKIP("picture corpus not found");
  }
  pelmora::testing::TestServer server;
  if (!server.ok()) {
    QSKIP("the local test server did not start");
  }
  QTemporaryDir dir;
  const std::filesystem::path root = dir.path().toStdString();
  std::vector<std::string> paths;
  for (int i = 0; i < 4; ++i) {
    paths.push_back("/p" + std::to_string(i) + ".jpg");
    server.Route(paths.back(), {.body = jpeg, .delayMs = 50});
  }
  server.Route("/post", {.body = PageListing(server, paths), .delayMs = 100});
  pelmora::app::InitGlobals({.downloadFolder = root / "pics", .cookieFile = root / "CK.TXT"});
  auto window = MakeWindow(pelmora::app::MainWindowHandlers());
  window->SetControlText(Control::kAddressBox, server.HttpUrl("/post"));

  QTest::mouseClick(Find<QPushButton>("按钮1"), Qt::LeftButton);
  const std::string waiting = Gbk(u"未下载");
  QCOMPARE(window->RowCount(), 4);
  QCOMPARE(RowsInState(*window, waiting), 4);
  QCOMPARE(Find<QTreeWidget>("超级列表框1")->topLevelItem(0)->text(2), QStringLiteral("未下载"));
  QVERIFY(Find<QPushButton>("按钮1")->isEnabled());

  QTest::mouseClick(Find<QPushButton>("按钮2"), Qt::LeftButton);
  const std::string done = Gbk(u"下载完成");
  QTRY_COMPARE_WITH_TIMEOUT(RowsInState(*window, done), 4, 20000);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root / "pics")) {
    QCOMPARE(ReadAll(entry.path()), jpeg);
    ++files;
  }
  QCOMPARE(files, 4);

  window->Close();
  QCOMPARE(window->Run(), 0);
  window.reset();
  pelmora::app::ExitCleanup();
}

// Closing while pictures are still on their way cancels them and lets the
// workers go, though they are waiting on the window thread that is closing.
void WindowTest::closingDuringDownloadsEnds() {
  pelmora::testing::TestServer server;
  if (!server.ok()) {
    QSKIP("the local test server did not start");
  }
  QTemporaryDir dir;
  const std::filesystem::path root = dir.path().toStdString();
  std::vector<std::string> paths;
  for (int i = 0; i < 6; ++i) {
    paths.push_back("/slow" + std::to_string(i) + ".jpg");
    server.Route(paths.back(), {.stall = true});
  }
  server.Route("/post", {.body = PageListing(server, paths)});
  pelmora::app::InitGlobals({.downloadFolder = root / "pics", .cookieFile = root / "CK.TXT"});
  auto window = MakeWindow(pelmora::app::MainWindowHandlers());
  window->SetControlText(Control::kAddressBox, server.HttpUrl("/post"));
  QTest::mouseClick(Find<QPushButton>("按钮1"), Qt::LeftButton);
  QCOMPARE(window->RowCount(), 6);
  QTest::mouseClick(Find<QPushButton>("按钮2"), Qt::LeftButton);
  QTRY_COMPARE(RowsInState(*window, Gbk(u"下载中")), 6);

  window->Close();
  QCOMPARE(window->Run(), 0);
  window.reset();
  pelmora::app::ExitCleanup();
  // No temporary file is left behind.
  if (std::filesystem::exists(root / "pics")) {
    QVERIFY(std::filesystem::is_empty(root / "pics"));
  }
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
