#include "ui/ControlProps.h"

#include <QAction>
#include <QMetaProperty>
#include <QTabBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QWidget>

#include <algorithm>
#include <iterator>

namespace {

// One row per control type: the least Qt class its properties need, and the
// Qt property that holds its Caption (null when it has none).
struct TypeProps {
    const char* name;
    const char* qtClass;
    const char* caption;
    bool toolTip;
    bool font;
};

constexpr TypeProps kTypes[] = {
    {"Form", "QWidget", "windowTitle", false, true},
    {"Label", "QLabel", "text", true, true},
    {"CommandButton", "QAbstractButton", "text", true, true},
    {"OptionButton", "QAbstractButton", "text", true, true},
    {"Frame", "QGroupBox", "title", true, true},
    {"TextBox", "QWidget", nullptr, true, true},
    {"StatusBar", "QWidget", nullptr, true, true},
    {"ProgressBar", "QWidget", nullptr, true, false},
    {"Shape", "QWidget", nullptr, false, false},
    {"Timer", "QObject", nullptr, false, false},
    {"MSComm", "QObject", nullptr, false, false},
    {"Menu", "QAction", "text", false, false},
    {"TabStrip", "QWidget", nullptr, true, true},
    {"Toolbar", "QWidget", nullptr, true, false},
    {"ListView", "QWidget", nullptr, true, true},
};

// An unknown type has no properties beyond its Tag.
TypeProps propsOf(const QString& typeName) {
    const auto found = std::find_if(std::begin(kTypes), std::end(kTypes), [&](const TypeProps& t) {
        return typeName == QLatin1StringView(t.name);
    });
    return found != std::end(kTypes) ? *found : TypeProps{"", "", nullptr, false, false};
}

}  // namespace

PropertyError::PropertyError(const QString& typeName, const char* property)
    : std::runtime_error("Object doesn't support this property or method: " +
                         typeName.toStdString() + "." + property) {}

QString FontRef::Name() const {
    return m_owner->font().family();
}

void FontRef::setName(const QString& name) {
    QFont font = m_owner->font();
    font.setFamily(name);
    m_owner->setFont(font);
}

double FontRef::Size() const {
    return m_owner->font().pointSizeF();
}

void FontRef::setSize(double points) {
    if (!(points > 0)) throw PropertyError(QStringLiteral("Font"), "Size");
    QFont font = m_owner->font();
    font.setPointSizeF(points);
    m_owner->setFont(font);
}

QString Control::typeName() const {
    const QString type = m_object->property("ControlType").toString();
    if (!type.isEmpty()) return type;
    if (m_object->isWidgetType() && static_cast<QWidget*>(m_object)->isWindow())
        return QStringLiteral("Form");
    return QString::fromLatin1(m_object->metaObject()->className());
}

void Control::lacks(const char* property) const {
    throw PropertyError(typeName(), property);
}

// The Qt object behind a property; a type name that does not match its object
// is a missing property, not a crash.
template <class T>
T& Control::as(const char* property) const {
    T* object = qobject_cast<T*>(m_object);
    if (!object) lacks(property);
    return *object;
}

QString Control::Tag() const {
    return m_object->property("Tag").toString();
}

// The Qt property behind a designed one; a type name that does not match its
// object is a missing property, not a crash.
QMetaProperty Control::qtProperty(const char* designed, const char* qtName) const {
    const TypeProps props = propsOf(typeName());
    if (!qtName || !m_object->inherits(props.qtClass)) lacks(designed);
    const int index = m_object->metaObject()->indexOfProperty(qtName);
    if (index < 0) lacks(designed);
    return m_object->metaObject()->property(index);
}

QString Control::Caption() const {
    return qtProperty("Caption", propsOf(typeName()).caption).read(m_object).toString();
}

void Control::setCaption(const QString& caption) {
    qtProperty("Caption", propsOf(typeName()).caption).write(m_object, caption);
}

const char* Control::toolTipProperty() const {
    return propsOf(typeName()).toolTip ? "toolTip" : nullptr;
}

QString Control::ToolTipText() const {
    return qtProperty("ToolTipText", toolTipProperty()).read(m_object).toString();
}

void Control::setToolTipText(const QString& tip) {
    qtProperty("ToolTipText", toolTipProperty()).write(m_object, tip);
}

void Control::setFont(const FontRef& font) {
    if (!propsOf(typeName()).font) lacks("Font");
    QWidget& widget = as<QWidget>("Font");
    if (&widget == &font.owner()) return;
    // Qt fonts are values; a widget shares its window's font by inheriting it,
    // which an empty font (nothing set) brings about. Outside the window it
    // can only take the font as it is now.
    if (font.owner().isAncestorOf(&widget))
        widget.setFont(QFont());
    else
        widget.setFont(font.owner().font());
}

QList<CollectionItem> Control::Tabs() const {
    if (typeName() != u"TabStrip") lacks("Tabs");
    QTabBar& tabs = as<QTabBar>("Tabs");
    QList<CollectionItem> items;
    for (int i = 0; i < tabs.count(); ++i)
        items.append(CollectionItem(CollectionItem::Kind::Tab, tabs, i));
    return items;
}

QList<CollectionItem> Control::Buttons() const {
    if (typeName() != u"Toolbar") lacks("Buttons");
    QList<CollectionItem> items;
    for (QAction* action : as<QToolBar>("Buttons").actions())
        items.append(CollectionItem(CollectionItem::Kind::Button, *action, -1));
    return items;
}

QList<CollectionItem> Control::ColumnHeaders() const {
    if (typeName() != u"ListView") lacks("ColumnHeaders");
    QTreeWidget& view = as<QTreeWidget>("ColumnHeaders");
    QList<CollectionItem> items;
    for (int column = 0; column < view.columnCount(); ++column)
        items.append(CollectionItem(CollectionItem::Kind::ColumnHeader, view, column));
    return items;
}

void CollectionItem::lacks(const char* property) const {
    static constexpr const char* kNames[] = {"Tab", "Button", "ColumnHeader"};
    throw PropertyError(QString::fromLatin1(kNames[int(m_kind)]), property);
}

QString CollectionItem::Tag() const {
    switch (m_kind) {
        case Kind::Tab:
            return static_cast<QTabBar*>(m_owner)->tabData(m_index).toString();
        case Kind::Button:
            return static_cast<QAction*>(m_owner)->data().toString();
        case Kind::ColumnHeader:
            return static_cast<QTreeWidget*>(m_owner)
                ->headerItem()
                ->data(m_index, Qt::UserRole)
                .toString();
    }
    lacks("Tag");
}

QString CollectionItem::Caption() const {
    if (m_kind == Kind::Tab) return static_cast<QTabBar*>(m_owner)->tabText(m_index);
    if (m_kind == Kind::Button) return static_cast<QAction*>(m_owner)->text();
    lacks("Caption");
}

void CollectionItem::setCaption(const QString& caption) {
    if (m_kind == Kind::Tab) return static_cast<QTabBar*>(m_owner)->setTabText(m_index, caption);
    if (m_kind == Kind::Button) return static_cast<QAction*>(m_owner)->setText(caption);
    lacks("Caption");
}

QString CollectionItem::ToolTipText() const {
    if (m_kind == Kind::Tab) return static_cast<QTabBar*>(m_owner)->tabToolTip(m_index);
    if (m_kind == Kind::Button) return static_cast<QAction*>(m_owner)->toolTip();
    lacks("ToolTipText");
}

void CollectionItem::setToolTipText(const QString& tip) {
    if (m_kind == Kind::Tab) return static_cast<QTabBar*>(m_owner)->setTabToolTip(m_index, tip);
    if (m_kind == Kind::Button) return static_cast<QAction*>(m_owner)->setToolTip(tip);
    lacks("ToolTipText");
}

QString CollectionItem::Text() const {
    if (m_kind == Kind::ColumnHeader)
        return static_cast<QTreeWidget*>(m_owner)->headerItem()->text(m_index);
    lacks("Text");
}

void CollectionItem::setText(const QString& text) {
    if (m_kind == Kind::ColumnHeader)
        return static_cast<QTreeWidget*>(m_owner)->headerItem()->setText(m_index, text);
    lacks("Text");
}
