#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>

#include <initializer_list>
#include <stdexcept>
#include <utility>

// Looking up a number the table does not hold.
class MissingString : public std::runtime_error {
public:
    explicit MissingString(qint16 number);
};

// Texts the program carries, looked up by number. A missing number is a
// failure, never an empty text: an entry may hold an empty text on purpose.
class ResourceStrings {
public:
    ResourceStrings() = default;
    ResourceStrings(std::initializer_list<std::pair<qint16, QString>> entries);

    // Throws MissingString when the table holds no text of that number.
    QString text(qint16 number) const;

    // The program's own table. It carries no texts, so every lookup fails.
    static const ResourceStrings& program();

private:
    QHash<qint16, QString> m_texts;
};
