#include "app/window/window_state.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "support/error.h"
#include "support/files.h"
#include "support/xml_document.h"

namespace orx {
namespace {

constexpr std::string_view kNewStateFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<ParamsOfForms>\r\n"
    "</ParamsOfForms>";

constexpr std::string_view kName = "Name";
constexpr std::string_view kHeight = "Height";
constexpr std::string_view kLeft = "Left";
constexpr std::string_view kTop = "Top";
constexpr std::string_view kWidth = "Width";
// Written for windows only, after the five attributes; readers that do not
// know them pass them over.
constexpr std::string_view kMaximized = "Maximized";
constexpr std::string_view kFrameExtraWidth = "FrameExtraWidth";
constexpr std::string_view kFrameExtraHeight = "FrameExtraHeight";
constexpr std::string_view kLastFolder = "LastFolder";
// A window's dynamic property: its normal geometry as the toolkit kept it
// when restored maximised, and the frame rectangle it stands for.
constexpr const char* kRestoredNormal = "orxRestoredNormal";
// A window's dynamic property: the last few inner and frame rectangles it had
// while shown normally, oldest first.
constexpr const char* kNormalHistory = "orxNormalHistory";
constexpr int kNormalHistoryLength = 8;
constexpr int kWindowManagerDelayMs = 250;
// Larger frames than this are taken for a broken file.
constexpr int kMaxFrameExtra = 500;

XmlDocument LoadOrNew(std::string_view path) {
  try {
    return XmlDocument::LoadFile(path);
  } catch (const std::exception&) {
    // A missing or broken file reads as one with no entries.
  }
  return XmlDocument::ParseText(kNewStateFile);
}

std::string NameOf(const QObject* object) { return object->objectName().toStdString(); }

// The class name without its namespace: the form's entry is "TFormMain".
std::string ClassNameOf(const QObject* object) {
  const std::string name = object->metaObject()->className();
  const auto colons = name.rfind("::");
  return colons == std::string::npos ? name : name.substr(colons + 2);
}

bool IsControl(const QWidget* widget) {
  const QString name = widget->objectName();
  return !widget->isWindow() && !name.isEmpty() && !name.startsWith(QLatin1String("qt_"));
}

// Every control inside parent, depth first in the widget tree's order;
// separate windows (dialogs) and what they hold are not part of the form.
void CollectControls(const QObject* parent, std::vector<QWidget*>& controls) {
  for (QObject* child : parent->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (!widget || widget->isWindow()) continue;
    if (IsControl(widget)) controls.push_back(widget);
    CollectControls(widget, controls);
  }
}

// A whole number other than 0 that a widget can take; nullopt otherwise.
std::optional<int> Dimension(const XmlNode& entry, std::string_view attribute) {
  try {
    const std::int64_t value = ToInteger(entry.Attribute(attribute));
    if (value == 0 || value < -QWIDGETSIZE_MAX || value > QWIDGETSIZE_MAX) return std::nullopt;
    return static_cast<int>(value);
  } catch (const Error&) {
    return std::nullopt;
  }
}

// What a window manager's frame adds to a window, when the entry says and the
// value is believable.
std::optional<QSize> SavedFrameExtra(const XmlNode& entry) {
  const auto read = [&entry](std::string_view attribute) -> std::optional<int> {
    try {
      const std::int64_t value = ToInteger(entry.Attribute(attribute));
      if (value < 0 || value > kMaxFrameExtra) return std::nullopt;
      return static_cast<int>(value);
    } catch (const Error&) {
      return std::nullopt;
    }
  };
  const std::optional<int> width = read(kFrameExtraWidth);
  const std::optional<int> height = read(kFrameExtraHeight);
  if (!width || !height) return std::nullopt;
  return QSize(*width, *height);
}

bool HeldByLayout(const QLayout* layout, const QWidget* widget) {
  for (int i = 0; i < layout->count(); ++i) {
    QLayoutItem* item = layout->itemAt(i);
    if (item->widget() == widget) return true;
    if (item->layout() && HeldByLayout(item->layout(), widget)) return true;
  }
  return false;
}

int StretchAlong(const QWidget* pane, Qt::Orientation orientation) {
  const QSizePolicy policy = pane->sizePolicy();
  return orientation == Qt::Vertical ? policy.verticalStretch() : policy.horizontalStretch();
}

// Gives pane its extent along the splitter; the first stretching pane (else
// the last other one) makes up the difference.
void ApplySplitterExtent(QSplitter* splitter, QWidget* pane, int extent) {
  const Qt::Orientation orientation = splitter->orientation();
  const int index = splitter->indexOf(pane);
  if (index < 0 || extent < 0 || StretchAlong(pane, orientation) > 0) return;
  int receiver = -1;
  for (int i = 0; i < splitter->count(); ++i) {
    if (i == index) continue;
    if (StretchAlong(splitter->widget(i), orientation) > 0) {
      receiver = i;
      break;
    }
    receiver = i;
  }
  if (receiver < 0) return;
  QList<int> sizes = splitter->sizes();
  sizes[index] = extent;
  const int whole = (orientation == Qt::Vertical ? splitter->height() : splitter->width()) -
                    splitter->handleWidth() * (splitter->count() - 1);
  int others = 0;
  for (int i = 0; i < sizes.size(); ++i) {
    if (i != receiver) others += sizes[i];
  }
  sizes[receiver] = std::max(0, whole - others);
  splitter->setSizes(sizes);
}

// The frame moved and, if need be, cut down to lie inside the available area
// of the screen it overlaps most, or of the primary screen when it overlaps
// none: a screen unplugged since, or a file edited by hand, must not leave
// the window out of reach.
QRect FitOntoScreens(const QRect& frame) {
  QRect area;
  qint64 best = 0;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect common = screen->availableGeometry().intersected(frame);
    const qint64 overlap = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
    if (overlap > best) {
      best = overlap;
      area = screen->availableGeometry();
    }
  }
  if (area.isEmpty()) {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr || primary->availableGeometry().isEmpty()) return frame;
    area = primary->availableGeometry();
  }
  QRect fitted(frame.topLeft(), frame.size().boundedTo(area.size()));
  fitted.moveLeft(std::clamp(fitted.left(), area.left(), area.left() + area.width() - fitted.width()));
  fitted.moveTop(std::clamp(fitted.top(), area.top(), area.top() + area.height() - fitted.height()));
  return fitted;
}

struct NormalPlace {
  QRect inner;
  QRect frame;
};

// The place a maximised window goes back to: the last one noted whose size
// is not the maximised size.
std::optional<NormalPlace> LastNormalPlace(const QWidget* window) {
  const QVariantList history = window->property(kNormalHistory).toList();
  for (auto noted = history.crbegin(); noted != history.crend(); ++noted) {
    const QVariantList place = noted->toList();
    if (place.size() != 2) continue;
    const QRect inner = place[0].toRect();
    if (inner.size() != window->size()) return NormalPlace{inner, place[1].toRect()};
  }
  return std::nullopt;
}

// Left and Top are the frame's corner, as the window was saved. Moved before
// its native window exists, the toolkit asks the window manager to put the
// frame there; moved later, it would place the inner area there instead and
// the window would creep by its title bar and border on every start.
void ApplyWindowGeometry(QWidget* window, std::optional<int> left, std::optional<int> top,
                         std::optional<int> width, std::optional<int> height, bool maximized,
                         std::optional<QSize> savedFrameExtra) {
  QSize frameExtra = window->frameGeometry().size() - window->size();
  if (frameExtra.isNull() && savedFrameExtra) {
    // The frame the window had when it was saved: a window kept against the
    // screen's right or bottom edge comes back there, not pushed inward by a
    // guess that is larger than the real frame.
    frameExtra = *savedFrameExtra;
  } else if (frameExtra.isNull()) {
    // Not framed yet: allow for a title bar and borders of the usual size,
    // so that a window cut down to the screen does not reach below it.
    const QStyle* style = window->style();
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
    frameExtra = QSize(2 * border,
                       style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window) + 2 * border);
  }
  const QRect wanted(QPoint(left.value_or(window->x()), top.value_or(window->y())),
                     QSize(width.value_or(window->width()), height.value_or(window->height())));
  const QRect frame = FitOntoScreens(QRect(wanted.topLeft(), wanted.size() + frameExtra));
  const QSize size = frame.size() - frameExtra;
  window->resize(size);
  window->move(frame.topLeft());
  if (maximized) {
    window->setWindowState(window->windowState() | Qt::WindowMaximized);
    // Maximised before it is shown, the toolkit keeps the frame's corner as
    // the place to go back to, where it otherwise keeps the inner area's.
    // Saving tells the two apart by this note.
    window->setProperty(kRestoredNormal,
                        QVariantList{window->normalGeometry(), QRect(frame.topLeft(), size)});
  }
}

bool Flag(const XmlNode& entry, std::string_view attribute) {
  try {
    return ToInteger(entry.Attribute(attribute)) == 1;
  } catch (const Error&) {
    return false;
  }
}

void ApplyGeometry(QWidget* widget, const XmlNode& entry) {
  const std::optional<int> height = Dimension(entry, kHeight);
  const std::optional<int> left = Dimension(entry, kLeft);
  const std::optional<int> top = Dimension(entry, kTop);
  const std::optional<int> width = Dimension(entry, kWidth);

  if (widget->isWindow()) {
    ApplyWindowGeometry(widget, left, top, width, height, Flag(entry, kMaximized),
                        SavedFrameExtra(entry));
    if (std::optional<std::string> folder = entry.Attribute(kLastFolder)) {
      widget->setProperty(kLastFolderProperty, QString::fromStdString(*folder));
    }
  } else if (auto* splitter = qobject_cast<QSplitter*>(widget->parentWidget())) {
    const std::optional<int> extent = splitter->orientation() == Qt::Vertical ? height : width;
    if (extent) ApplySplitterExtent(splitter, widget, *extent);
  } else if (const QWidget* parent = widget->parentWidget();
             parent && parent->layout() && HeldByLayout(parent->layout(), widget)) {
    // The layout places it.
  } else {
    QRect geometry = widget->geometry();
    if (left) geometry.moveLeft(*left);
    if (top) geometry.moveTop(*top);
    if (width) geometry.setWidth(*width);
    if (height) geometry.setHeight(*height);
    widget->setGeometry(geometry);
  }
  // The controls inside follow the new size before their own entries apply.
  if (widget->layout()) widget->layout()->activate();
}

void RestoreComponentState(QWidget* component, const XmlNode& entry,
                           const std::vector<QWidget*>& owned) {
  try {
    ApplyGeometry(component, entry);
  } catch (const std::exception&) {
  }
  const int count = entry.ChildCount();
  for (int i = 0; i < count; ++i) {
    try {
      const XmlNode child = entry.ChildAt(i);
      const std::optional<std::string> name = child.Attribute(kName);
      if (!name) continue;
      for (QWidget* control : owned) {
        if (NameOf(control) != *name) continue;
        RestoreComponentState(control, child, {});
        break;
      }
    } catch (const std::exception&) {
      // A broken entry is passed over.
    }
  }
}

void DeleteEntriesNamed(XmlNode& parent, const std::string& name) {
  for (int i = parent.ChildCount() - 1; i >= 0; --i) {
    if (parent.ChildAt(i).Attribute(kName) == name) parent.DeleteChild(i);
  }
}

void StoreComponentState(QWidget* component, XmlNode& parentEntry, bool withControls) {
  const std::string name = NameOf(component);
  DeleteEntriesNamed(parentEntry, name);

  XmlNode entry = parentEntry.AddChild(ClassNameOf(component));
  try {
    entry.SetAttribute(kName, name);
  } catch (const std::exception&) {
    parentEntry.DeleteChild(parentEntry.ChildCount() - 1);
    return;
  }
  try {
    QRect geometry(component->geometry().topLeft(), component->size());
    QSize frameExtra;
    const bool maximized = component->isWindow() && component->isMaximized();
    if (component->isWindow()) {
      // The frame's corner, and for a maximised window the place and size
      // it goes back to.
      frameExtra = component->frameGeometry().size() - component->size();
      const QPoint frameOffset = component->geometry().topLeft() - component->pos();
      const QRect normal = component->normalGeometry();
      const QVariantList restored = component->property(kRestoredNormal).toList();
      if (const std::optional<NormalPlace> noted = maximized ? LastNormalPlace(component)
                                                             : std::nullopt) {
        geometry = QRect(noted->frame.topLeft(), noted->inner.size());
        frameExtra = noted->frame.size() - noted->inner.size();
      } else if (maximized && restored.size() == 2 && restored[0].toRect() == normal) {
        geometry = restored[1].toRect();
        frameExtra = {};
      } else if (maximized && normal.isValid()) {
        geometry = normal;
        geometry.moveTopLeft(geometry.topLeft() - frameOffset);
        frameExtra = {};
      } else {
        geometry.moveTopLeft(geometry.topLeft() - frameOffset);
      }
    }
    entry.SetAttribute(kHeight, geometry.height());
    entry.SetAttribute(kLeft, geometry.x());
    entry.SetAttribute(kTop, geometry.y());
    entry.SetAttribute(kWidth, geometry.width());
    if (component->isWindow()) {
      entry.SetAttribute(kMaximized, maximized ? 1 : 0);
      // Unknown (not framed, or only the maximised frame seen): not written.
      if (!frameExtra.isNull() && frameExtra.width() >= 0 && frameExtra.height() >= 0) {
        entry.SetAttribute(kFrameExtraWidth, frameExtra.width());
        entry.SetAttribute(kFrameExtraHeight, frameExtra.height());
      }
      const QString lastFolder = component->property(kLastFolderProperty).toString();
      if (!lastFolder.isEmpty()) entry.SetAttribute(kLastFolder, lastFolder.toStdString());
    }
  } catch (const std::exception&) {
    // The entry stays as far as it was written.
  }
  if (!withControls) return;
  std::vector<QWidget*> controls;
  CollectControls(component, controls);
  for (QWidget* control : controls) StoreComponentState(control, entry, false);
}

}  // namespace

void RestoreFormState(QWidget* form, std::string_view path) {
  if (!form) return;
  try {
    const XmlDocument document = LoadOrNew(path);
    const XmlNode root = document.Root();
    const std::string formName = NameOf(form);
    const int count = root ? root.ChildCount() : 0;
    for (int i = 0; i < count; ++i) {
      const XmlNode child = root.ChildAt(i);
      if (child.Attribute(kName) != formName) continue;
      std::vector<QWidget*> controls;
      CollectControls(form, controls);
      RestoreComponentState(form, child, controls);
      return;
    }
  } catch (const std::exception&) {
    // Reading never reports anything: the window keeps its design.
  }
  FitWindowOntoScreen(form);
}

void FitWindowOntoScreen(QWidget* window) {
  if (!window || !window->isWindow()) return;
  ApplyWindowGeometry(window, std::nullopt, std::nullopt, std::nullopt, std::nullopt, false,
                      std::nullopt);
}

void LeaveMaximisedAsRestored(QWidget* window, Qt::WindowStates oldState) {
  if (!window || !(oldState & Qt::WindowMaximized) || window->isMaximized()) return;
  const QVariantList restored = window->property(kRestoredNormal).toList();
  if (restored.size() != 2) return;
  window->setProperty(kRestoredNormal, QVariant());
  const QRect normal = restored[1].toRect();
  const QSize maximised = window->size();
  // Once the window manager has had time to give the window a normal size
  // of its own, which most do at once.
  QTimer::singleShot(kWindowManagerDelayMs, window, [window, normal, maximised] {
    if (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized) ||
        window->size() != maximised) {
      return;
    }
    window->resize(normal.size());
    window->move(normal.topLeft());
  });
}

void KeepFrameOnScreen(QWidget* window) {
  if (!window) return;
  QTimer::singleShot(kWindowManagerDelayMs, window, [window] {
    if (!window->isVisible() ||
        window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)) {
      return;
    }
    const QRect frame = window->frameGeometry();
    const QRect fitted = FitOntoScreens(frame);
    if (fitted == frame) return;
    window->resize(fitted.size() - (frame.size() - window->size()));
    window->move(fitted.topLeft());
  });
}

void NoteNormalGeometry(QWidget* window) {
  if (!window || !window->isWindow() || !window->isVisible()) return;
  if (window->windowState() &
      (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) {
    return;
  }
  const QVariantList place{window->geometry(), window->frameGeometry()};
  QVariantList history = window->property(kNormalHistory).toList();
  if (!history.isEmpty() && history.back() == QVariant(place)) return;
  history.append(QVariant(place));
  while (history.size() > kNormalHistoryLength) history.removeFirst();
  window->setProperty(kNormalHistory, history);
}

void SaveFormState(QWidget* form, std::string_view path) {
  if (!form) return;
  XmlDocument document = LoadOrNew(path);
  XmlNode root = document.Root();
  StoreComponentState(form, root, true);

  std::error_code ignored;
  const std::filesystem::path folder = std::filesystem::path(std::string(path)).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
  WriteFileAtomically(document.Text(), path);
}

}  // namespace orx
