#pragma once

#include <QList>

class frmMain;
class QObject;
class QWidget;
class ResourceStrings;

// The localisation pass run first thing at start-up. Never reports a failure:
// each step that fails is skipped.
void ApplyResourceStrings(frmMain& window);

// The pass over any window, its controls and a table of numbered strings.
void ApplyResourceStrings(QWidget& window, const QList<QObject*>& controls,
                          const ResourceStrings& table);
