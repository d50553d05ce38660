#pragma once

#include <QList>
#include <QString>

#include <stdexcept>

class QMetaProperty;
class QObject;
class QWidget;

// The window and its controls reached by type name and by property name, the
// way the localisation pass walks them. A control's type name is its
// "ControlType" property ("Label", "CommandButton", ...); a window without one
// is a "Form". Each type has only the properties its kind of control has, and
// asking for any other throws PropertyError:
//
//   type                        Caption        ToolTipText  Font  collection
//   Form (QWidget window)       windowTitle    -            yes
//   Label (QLabel)              text           yes          yes
//   CommandButton, OptionButton text           yes          yes
//   Frame (QGroupBox)           title          yes          yes
//   TextBox (QLineEdit)         - (has Text)   yes          yes
//   StatusBar                   -              yes          yes
//   ProgressBar                 -              yes          -
//   Shape, Timer, MSComm        -              -            -
//   Menu (QAction)              text           -            -
//   TabStrip (QTabBar)          -              yes          yes   Tabs
//   Toolbar (QToolBar)          -              yes          -     Buttons
//   ListView (QTreeWidget)      -              yes          yes   ColumnHeaders
//
// Every object has a Tag: its "Tag" property, empty when not set.

class PropertyError : public std::runtime_error {
public:
    PropertyError(const QString& typeName, const char* property);
};

// A font object by reference: Name and Size read and write the font of the
// widget that owns it, so a change shows wherever that font is used.
class FontRef {
public:
    explicit FontRef(QWidget& owner) : m_owner(&owner) {}
    QWidget& owner() const { return *m_owner; }

    QString Name() const;
    void setName(const QString& name);
    double Size() const;
    // Points; a size of 0 or less throws PropertyError and changes nothing.
    void setSize(double points);

private:
    QWidget* m_owner;
};

// One item of a control's collection: a tab of a TabStrip (Tag, Caption,
// ToolTipText), a button of a Toolbar (Tag, Caption, ToolTipText) or a column
// header of a ListView (Tag, Text).
class CollectionItem {
public:
    QString Tag() const;
    QString Caption() const;
    void setCaption(const QString& caption);
    QString ToolTipText() const;
    void setToolTipText(const QString& tip);
    QString Text() const;
    void setText(const QString& text);

private:
    friend class Control;
    enum class Kind { Tab, Button, ColumnHeader };
    CollectionItem(Kind kind, QObject& owner, int index)
        : m_kind(kind), m_owner(&owner), m_index(index) {}
    [[noreturn]] void lacks(const char* property) const;

    Kind m_kind;
    QObject* m_owner;  // the tab bar, the button's action or the tree
    int m_index;       // tab or column; unused for a button
};

class Control {
public:
    explicit Control(QObject& object) : m_object(&object) {}

    QString typeName() const;
    QString Tag() const;
    QString Caption() const;
    void setCaption(const QString& caption);
    QString ToolTipText() const;
    void setToolTipText(const QString& tip);
    // The control uses `font` from now on: inside the font's window it drops
    // any font of its own and follows that window's, later changes included.
    void setFont(const FontRef& font);

    QList<CollectionItem> Tabs() const;
    QList<CollectionItem> Buttons() const;
    QList<CollectionItem> ColumnHeaders() const;

private:
    [[noreturn]] void lacks(const char* property) const;
    template <class T>
    T& as(const char* property) const;
    QMetaProperty qtProperty(const char* designed, const char* qtName) const;
    const char* toolTipProperty() const;

    QObject* m_object;
};
