#include "platform/qt/qt_window.h"

#include <QApplication>
#include <QByteArray>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QString>
#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <QVariant>
#include <QWidget>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/codepage.h"
#include "platform/events.h"

namespace pelmora::platform {

namespace {

constexpr int kGbk = 936;
constexpr int kClientWidth = 452;
constexpr int kClientHeight = 460;
constexpr int kColumnCount = 3;
// Item data of column 0 holds the row's key; every column holds its text's
// exact GBK bytes, so that reading a cell never goes through a conversion.
constexpr int kKeyRole = Qt::UserRole;
constexpr int kBytesRole = Qt::UserRole + 1;

QString FromGbk(std::string_view bytes) {
  return QString::fromStdU16String(DecodeCodePage(bytes, kGbk));
}

std::string ToGbk(const QString& text) { return EncodeCodePage(text.toStdU16String(), kGbk); }

enum class Kind { kLabel, kOneLine, kMultiLine, kButton, kList };

struct ControlLayout {
  const char* name;  // the form name, also the widget's object name
  Kind kind;
  int left;
  int top;
  int width;
  int height;
  const char* text;  // UTF-8
  std::optional<Control> control;
};

// In creation (and tab) order. The two hidden text holders lie to the right
// of the client area on purpose: they are never seen.
constexpr ControlLayout kLayout[] = {
    {"标签1", Kind::kLabel, 8, 40, 80, 32, "博文地址", std::nullopt},
    {"编辑框1", Kind::kOneLine, 88, 32, 360, 40, "", Control::kAddressBox},
    {"超级列表框1", Kind::kList, 0, 88, 448, 208, "", std::nullopt},
    {"标签2", Kind::kLabel, 16, 320, 48, 24, "保存路径", std::nullopt},
    {"编辑框4", Kind::kOneLine, 96, 312, 152, 32, "", Control::kFolderBox},
    {"按钮1", Kind::kButton, 256, 312, 80, 32, "加载页面", Control::kLoadButton},
    {"按钮2", Kind::kButton, 352, 312, 80, 32, "下载", Control::kDownloadButton},
    {"标签4", Kind::kLabel, 256, 352, 208, 24, "CK 浏览器按12 随便都能找到", std::nullopt},
    {"编辑框3", Kind::kMultiLine, 96, 360, 152, 80, "", Control::kCookieBox},
    {"标签5", Kind::kLabel, 256, 384, 176, 24, "提示数组错误就是CK失效了", std::nullopt},
    {"标签3", Kind::kLabel, 36, 402, 28, 24, "CK框", std::nullopt},
    {"按钮3", Kind::kButton, 248, 416, 80, 32, "保存CK", Control::kSaveCookieButton},
    {"编辑框2", Kind::kMultiLine, 464, 0, 88, 48, "", Control::kPageBox},
    {"编辑框5", Kind::kMultiLine, 472, 104, 88, 48, "", Control::kScratchBox},
};

struct ColumnLayout {
  const char* title;  // UTF-8
  int width;
};
constexpr std::array<ColumnLayout, kColumnCount> kColumns = {
    {{"数量", 50}, {"链接", 280}, {"下载", 100}}};

constexpr std::size_t kControlCount = 8;

// How a line of a multi-line box ended in the text last set, kept in its
// block's user state. A block the user has made since has none.
enum LineBreak : int { kNewLine = -1, kLf = 0, kCrLf = 1, kCr = 2 };

// The document splits `text` into blocks at CR LF, CR, LF and the paragraph
// separator; each block notes which of them ended it.
void MarkLineBreaks(QTextDocument* document, const QString& text) {
  QTextBlock block = document->begin();
  for (qsizetype i = 0; i < text.size() && block.isValid(); ++i) {
    LineBreak kind = kNewLine;
    const QChar c = text[i];
    if (c == u'\r') {
      const bool pair = i + 1 < text.size() && text[i + 1] == u'\n';
      kind = pair ? kCrLf : kCr;
      i += pair ? 1 : 0;
    } else if (c == u'\n') {
      kind = kLf;
    } else if (c != QChar::ParagraphSeparator) {
      continue;
    }
    block.setUserState(kind);
    block = block.next();
  }
}

// The box's text with each line ended as it was set; lines the user has
// broken anew (and soft line breaks) end the way most of the set text did.
QString TextWithLineBreaks(const QTextDocument* document, bool crlf) {
  const QString newLine = crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
  QString text;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    text += block.text().replace(QChar::LineSeparator, newLine);
    if (!block.next().isValid()) {
      break;
    }
    switch (block.userState()) {
      case kLf:
        text += u'\n';
        break;
      case kCrLf:
        text += QStringLiteral("\r\n");
        break;
      case kCr:
        text += u'\r';
        break;
      default:
        text += newLine;
        break;
    }
  }
  return text;
}

constexpr std::size_t SlotOf(Control control) { return static_cast<std::size_t>(control); }
static_assert(SlotOf(Control::kSaveCookieButton) + 1 == kControlCount);

// The list marks only the first cell of the selected row.
class FirstCellSelectionDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() != 0) {
      option->state &= ~QStyle::State_Selected;
    }
  }
};

// The top-level widget; it hands its close event to the window.
class MainForm final : public QWidget {
 public:
  explicit MainForm(std::function<void(QCloseEvent*)> onClose) : m_onClose(std::move(onClose)) {}

 protected:
  void closeEvent(QCloseEvent* event) override { m_onClose(event); }

 private:
  std::function<void(QCloseEvent*)> m_onClose;
};

// Shared by the window and the calls other threads have queued to it, so that
// a queued call can tell that its caller has stopped waiting.
struct CallGate {
  std::mutex mutex;
  std::condition_variable finished;
  bool closed = false;  // guarded by mutex; only the window thread sets it
};

class QtWindow final : public Window {
 public:
  QtWindow(int& argc, char** argv, WindowHandlers handlers);
  ~QtWindow() override;
  QtWindow(const QtWindow&) = delete;
  QtWindow& operator=(const QtWindow&) = delete;

  // Creates the controls, shows the window and runs onCreated.
  void Start();

  std::string GetControlText(Control control) override;
  void SetControlText(Control control, std::string_view text) override;
  void SetControlEnabled(Control control, bool enabled) override;
  int RowCount() override;
  void DeleteAllRows() override;
  int InsertRow(int position, std::string_view text) override;
  void SetCellText(int row, int column, std::string_view text) override;
  std::string GetCellText(int row, int column) override;
  int FindRowByCell(std::string_view text, int firstRow, int column) override;
  std::uint64_t RowKey(int row) override;
  bool SetCellTextByKey(std::uint64_t key, int column, std::string_view text) override;
  int Run() override;
  void Close() override;
  void ProcessPending() override;
  void ShowErrorBox(std::string_view title, std::string_view text) override;

 private:
  // One edit box or button the application names.
  struct Slot {
    QLineEdit* line = nullptr;
    QPlainTextEdit* multi = nullptr;
    QPushButton* button = nullptr;
    // The bytes last set. While the user has not changed the box, reading it
    // gives them back exactly (bytes that do not convert included), and a big
    // hidden text is not converted back again.
    std::string setBytes;
    bool unchanged = true;
    bool crlf = false;  // the text last set broke lines with CR LF: new lines do too
  };

  void CreateControls();
  void OnClose(QCloseEvent* event);
  void CloseGate();
  [[nodiscard]] bool OnWindowThread() const;
  // Runs `work` on the window thread and returns its result; `fallback` when
  // the window closes before it ran.
  template <typename R, typename Work>
  R Call(Work&& work, R fallback);
  template <typename Work>
  void CallVoid(Work&& work) {
    Call<bool>(
        [&work] {
          work();
          return true;
        },
        false);
  }

  // Window thread only, below.
  [[nodiscard]] QTreeWidgetItem* Row(int row) const { return m_list->topLevelItem(row); }
  static void SetCell(QTreeWidgetItem* item, int column, std::string_view text);
  static std::string_view CellBytes(const QTreeWidgetItem* item, int column, QByteArray* holder);

  std::unique_ptr<QApplication> m_ownedApp;  // null when the process had one already
  std::unique_ptr<MainForm> m_form;
  WindowHandlers m_handlers;
  std::shared_ptr<CallGate> m_gate = std::make_shared<CallGate>();

  // Window thread only, below.
  QTreeWidget* m_list = nullptr;
  std::array<Slot, kControlCount> m_slots;
  std::unordered_map<std::uint64_t, QTreeWidgetItem*> m_rowsByKey;
  std::uint64_t m_lastKey = 0;
  bool m_settingText = false;
  bool m_closing = false;
  bool m_running = false;
};

QtWindow::QtWindow(int& argc, char** argv, WindowHandlers handlers)
    : m_handlers(std::move(handlers)) {
  if (QCoreApplication::instance() == nullptr) {
    m_ownedApp = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pelmora"));
    QApplication::setDesktopFileName(QStringLiteral("pelmora"));
  }
  m_form = std::make_unique<MainForm>([this](QCloseEvent* event) { OnClose(event); });
}

QtWindow::~QtWindow() {
  CloseGate();
  InstallEventSink(nullptr);
  m_rowsByKey.clear();
  m_form.reset();
  m_ownedApp.reset();
}

void QtWindow::Start() {
  CreateControls();
  InstallEventSink(this);

  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect area =
      screen != nullptr ? screen->availableGeometry() : QRect(0, 0, kClientWidth, kClientHeight);
  m_form->move(area.x() + (area.width() - kClientWidth) / 2,
               area.y() + (area.height() - kClientHeight) / 2);
  m_form->show();
  // Centre the frame once the window system has given it one.
  const QSize frame = m_form->frameGeometry().size();
  m_form->move(area.x() + (area.width() - frame.width()) / 2,
               area.y() + (area.height() - frame.height()) / 2);

  if (m_handlers.onCreated) {
    m_handlers.onCreated(*this);
  }
}

void QtWindow::CreateControls() {
  MainForm* form = m_form.get();
  form->setWindowTitle(QStringLiteral("Vornak--Pelmora"));
  form->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                       Qt::WindowCloseButtonHint);
  form->setFixedSize(kClientWidth, kClientHeight);
  form->setWindowIcon(QIcon(QStringLiteral(":/pelmora/pelmora.png")));
  if (m_ownedApp) {
    QApplication::setWindowIcon(form->windowIcon());
  }

  for (const ControlLayout& layout : kLayout) {
    const QString name = QString::fromUtf8(layout.name);
    const QString text = QString::fromUtf8(layout.text);
    QWidget* widget = nullptr;
    Slot* slot = layout.control ? &m_slots[SlotOf(*layout.control)] : nullptr;
    switch (layout.kind) {
      case Kind::kLabel: {
        auto* label = new QLabel(text, form);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case Kind::kOneLine: {
        auto* line = new QLineEdit(text, form);
        line->setMaxLength(std::numeric_limits<int>::max());
        QObject::connect(line, &QLineEdit::textChanged, form, [this, slot] {
          if (!m_settingText) {
            slot->unchanged = false;
          }
        });
        slot->line = line;
        widget = line;
        break;
      }
      case Kind::kMultiLine: {
        auto* multi = new QPlainTextEdit(text, form);
        multi->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        multi->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        multi->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        multi->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QObject::connect(multi, &QPlainTextEdit::textChanged, form, [this, slot] {
          if (!m_settingText) {
            slot->unchanged = false;
          }
        });
        slot->multi = multi;
        widget = multi;
        break;
      }
      case Kind::kButton: {
        auto* button = new QPushButton(text, form);
        button->setAutoDefault(false);
        const Control control = *layout.control;
        QObject::connect(button, &QPushButton::clicked, form, [this, control] {
          const std::function<void(Window&)>* handler = nullptr;
          switch (control) {
            case Control::kLoadButton:
              handler = &m_handlers.onLoadPage;
              break;
            case Control::kDownloadButton:
              handler = &m_handlers.onDownload;
              break;
            case Control::kSaveCookieButton:
              handler = &m_handlers.onSaveCookie;
              break;
            default:
              break;
          }
          if (handler != nullptr && *handler) {
            (*handler)(*this);
          }
        });
        slot->button = button;
        widget = button;
        break;
      }
      case Kind::kList: {
        auto* list = new QTreeWidget(form);
        list->setColumnCount(kColumnCount);
        QStringList titles;
        for (const ColumnLayout& column : kColumns) {
          titles << QString::fromUtf8(column.title);
        }
        list->setHeaderLabels(titles);
        for (int column = 0; column < kColumnCount; ++column) {
          list->setColumnWidth(column, kColumns[static_cast<std::size_t>(column)].width);
        }
        list->header()->setStretchLastSection(false);
        list->header()->setSectionsClickable(true);
        list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        list->setRootIsDecorated(false);
        list->setItemsExpandable(false);
        list->setUniformRowHeights(true);
        list->setSortingEnabled(false);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setItemDelegate(new FirstCellSelectionDelegate(list));
        list->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        m_list = list;
        widget = list;
        break;
      }
    }
    widget->setObjectName(name);
    widget->setGeometry(layout.left, layout.top, layout.width, layout.height);
    if (slot != nullptr && layout.kind != Kind::kButton) {
      slot->setBytes = ToGbk(text);
    }
  }
  m_slots[SlotOf(Control::kFolderBox)].line->setReadOnly(true);
}

bool QtWindow::OnWindowThread() const { return QThread::currentThread() == m_form->thread(); }

template <typename R, typename Work>
R QtWindow::Call(Work&& work, R fallback) {
  if (OnWindowThread()) {
    return work();
  }
  // Not a blocking queued connection: the window thread may be waiting for
  // this very thread while it closes, and then the caller must be let go.
  struct State {
    bool done = false;        // guarded by CallGate::mutex
    std::optional<R> result;  // guarded by CallGate::mutex
  };
  auto state = std::make_shared<State>();
  {
    std::lock_guard lock(m_gate->mutex);
    if (m_gate->closed) {
      return fallback;
    }
  }
  QMetaObject::invokeMethod(
      m_form.get(),
      [gate = m_gate, state, &work] {
        {
          std::lock_guard lock(gate->mutex);
          if (gate->closed) {
            return;  // the caller has gone; `work` may refer to its frame
          }
        }
        R result = work();
        {
          std::lock_guard lock(gate->mutex);
          state->result = std::move(result);
          state->done = true;
        }
        gate->finished.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(m_gate->mutex);
  m_gate->finished.wait(lock, [&] { return state->done || m_gate->closed; });
  return state->done ? std::move(*state->result) : fallback;
}

void QtWindow::CloseGate() {
  {
    std::lock_guard lock(m_gate->mutex);
    m_gate->closed = true;
  }
  m_gate->finished.notify_all();
}

void QtWindow::OnClose(QCloseEvent* event) {
  if (!m_closing) {
    m_closing = true;
    CloseGate();
    if (m_handlers.onClosing) {
      m_handlers.onClosing(*this);
    }
  }
  event->accept();
  if (m_running) {
    QCoreApplication::exit(0);
  }
}

std::string QtWindow::GetControlText(Control control) {
  return Call<std::string>(
      [&]() -> std::string {
        const Slot& slot = m_slots[SlotOf(control)];
        if (slot.button != nullptr) {
          return ToGbk(slot.button->text());
        }
        if (slot.unchanged) {
          return slot.setBytes;
        }
        if (slot.line != nullptr) {
          return ToGbk(slot.line->text());
        }
        return ToGbk(TextWithLineBreaks(slot.multi->document(), slot.crlf));
      },
      std::string());
}

void QtWindow::SetControlText(Control control, std::string_view text) {
  CallVoid([&] {
    Slot& slot = m_slots[SlotOf(control)];
    const QString converted = FromGbk(text);
    m_settingText = true;
    if (slot.button != nullptr) {
      slot.button->setText(converted);
    } else if (slot.line != nullptr) {
      slot.line->setText(converted);
    } else {
      slot.multi->setPlainText(converted);
      MarkLineBreaks(slot.multi->document(), converted);
    }
    m_settingText = false;
    slot.setBytes.assign(text);
    slot.unchanged = true;
    slot.crlf = text.find("\r\n") != std::string_view::npos;
  });
}

void QtWindow::SetControlEnabled(Control control, bool enabled) {
  CallVoid([&] {
    const Slot& slot = m_slots[SlotOf(control)];
    QWidget* widget = slot.button != nullptr ? static_cast<QWidget*>(slot.button)
                      : slot.line != nullptr ? static_cast<QWidget*>(slot.line)
                                             : static_cast<QWidget*>(slot.multi);
    widget->setEnabled(enabled);
  });
}

int QtWindow::RowCount() {
  return Call<int>([&] { return m_list->topLevelItemCount(); }, 0);
}

void QtWindow::DeleteAllRows() {
  CallVoid([&] {
    m_rowsByKey.clear();
    m_list->clear();
  });
}

void QtWindow::SetCell(QTreeWidgetItem* item, int column, std::string_view text) {
  item->setData(column, kBytesRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  item->setText(column, FromGbk(text));
}

std::string_view QtWindow::CellBytes(const QTreeWidgetItem* item, int column, QByteArray* holder) {
  *holder = item->data(column, kBytesRole).toByteArray();
  return {holder->constData(), static_cast<std::size_t>(holder->size())};
}

int QtWindow::InsertRow(int position, std::string_view text) {
  return Call<int>(
      [&] {
        auto* item = new QTreeWidgetItem();
        const std::uint64_t key = ++m_lastKey;
        item->setData(0, kKeyRole, QVariant::fromValue<quint64>(key));
        SetCell(item, 0, text);
        for (int column = 1; column < kColumnCount; ++column) {
          SetCell(item, column, {});
        }
        const int count = m_list->topLevelItemCount();
        const int index = position < 0 || position > count ? count : position;
        m_list->insertTopLevelItem(index, item);
        m_rowsByKey.emplace(key, item);
        return index;
      },
      -1);
}

void QtWindow::SetCellText(int row, int column, std::string_view text) {
  CallVoid([&] {
    QTreeWidgetItem* item = Row(row);
    if (item != nullptr && column >= 0 && column < kColumnCount) {
      SetCell(item, column, text);
    }
  });
}

std::string QtWindow::GetCellText(int row, int column) {
  return Call<std::string>(
      [&] {
        const QTreeWidgetItem* item = Row(row);
        if (item == nullptr || column < 0 || column >= kColumnCount) {
          return std::string();
        }
        QByteArray holder;
        return std::string(CellBytes(item, column, &holder));
      },
      std::string());
}

int QtWindow::FindRowByCell(std::string_view text, int firstRow, int column) {
  return Call<int>(
      [&] {
        if (column < 0 || column >= kColumnCount) {
          return -1;
        }
        const int count = m_list->topLevelItemCount();
        QByteArray holder;
        for (int row = firstRow < 0 ? 0 : firstRow; row < count; ++row) {
          if (CellBytes(Row(row), column, &holder) == text) {
            return row;
          }
        }
        return -1;
      },
      -1);
}

std::uint64_t QtWindow::RowKey(int row) {
  return Call<std::uint64_t>(
      [&]() -> std::uint64_t {
        const QTreeWidgetItem* item = Row(row);
        return item != nullptr ? item->data(0, kKeyRole).toULongLong() : 0;
      },
      0);
}

bool QtWindow::SetCellTextByKey(std::uint64_t key, int column, std::string_view text) {
  return Call<bool>(
      [&] {
        const auto found = m_rowsByKey.find(key);
        if (found == m_rowsByKey.end() || column < 0 || column >= kColumnCount) {
          return false;
        }
        SetCell(found->second, column, text);
        return true;
      },
      false);
}

int QtWindow::Run() {
  if (m_closing) {
    return 0;
  }
  m_running = true;
  const int status = QCoreApplication::exec();
  m_running = false;
  // Closing the last window may have queued a second quit; left behind, it
  // would end the next event loop of this thread at once (a later box's).
  QCoreApplication::removePostedEvents(QCoreApplication::instance(), QEvent::Quit);
  return status;
}

void QtWindow::Close() {
  // Queued even on the window thread, as a click on the close button would
  // be: a handler calling this finishes before the window closes.
  QMetaObject::invokeMethod(
      m_form.get(),
      [this] {
        if (!m_closing) {
          m_form->close();
        }
      },
      Qt::QueuedConnection);
}

void QtWindow::ProcessPending() {
  if (OnWindowThread()) {
    QCoreApplication::processEvents();
  }
}

void QtWindow::ShowErrorBox(std::string_view title, std::string_view text) {
  CallVoid([&] { QMessageBox::critical(m_form.get(), FromGbk(title), FromGbk(text)); });
}

}  // namespace

std::unique_ptr<Window> CreateQtWindow(int& argc, char** argv, WindowHandlers handlers) {
  auto window = std::make_unique<QtWindow>(argc, argv, std::move(handlers));
  window->Start();
  return window;
}

}  // namespace pelmora::platform
