#include "app/ResourceStrings.h"

#include <string>

MissingString::MissingString(qint16 number)
    : std::runtime_error("Resource with identifier '" + std::to_string(number) + "' not found") {}

ResourceStrings::ResourceStrings(std::initializer_list<std::pair<qint16, QString>> entries) {
    for (const auto& [number, text] : entries) m_texts.insert(number, text);
}

QString ResourceStrings::text(qint16 number) const {
    const auto found = m_texts.constFind(number);
    if (found == m_texts.cend()) throw MissingString(number);
    return *found;
}

const ResourceStrings& ResourceStrings::program() {
    static const ResourceStrings none;
    return none;
}
