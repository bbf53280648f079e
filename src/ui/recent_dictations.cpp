#include "ui/recent_dictations.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include "base/journal.h"
#include "base/private_file.h"

namespace talvoro {

namespace {

constexpr int titleWords = 6;

} // namespace

RecentDictations::RecentDictations(std::string path) : path_(std::move(path)) {}

std::vector<RecentDictations::Entry> RecentDictations::entries() const {
    QFile file(QString::fromStdString(path_));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::vector<Entry> list;
    for (const QJsonValue& value : QJsonDocument::fromJson(file.read(1024 * 1024)).array()) {
        const QJsonObject object = value.toObject();
        const QString text = object.value("text").toString();
        if (text.isEmpty())
            continue;
        list.push_back({text.toStdString(), object.value("app").toString().toStdString(),
                        QDateTime::fromString(object.value("time").toString(), Qt::ISODate)});
        if (static_cast<int>(list.size()) == limit)
            break;
    }
    return list;
}

void RecentDictations::add(const Entry& entry) {
    std::vector<Entry> list = entries();
    list.insert(list.begin(), entry);
    if (static_cast<int>(list.size()) > limit)
        list.resize(limit);
    QJsonArray array;
    for (const Entry& e : list)
        array.append(QJsonObject{{"text", QString::fromStdString(e.text)},
                                 {"app", QString::fromStdString(e.app)},
                                 {"time", e.time.toString(Qt::ISODate)}});
    try {
        PrivateFile::replace(path_, QJsonDocument(array).toJson().toStdString());
    } catch (const std::exception& error) {
        Journal::shared().note(std::string("последние диктовки: ") + error.what());
    }
}

void RecentDictations::clear() {
    QFile::remove(QString::fromStdString(path_));
}

std::string RecentDictations::title(const Entry& entry) {
    const QStringList words =
        QString::fromStdString(entry.text).simplified().split(u' ', Qt::SkipEmptyParts);
    QString head = words.mid(0, titleWords).join(u' ');
    if (words.size() > titleWords)
        head += u'…';
    std::string line = head.toStdString();
    if (!entry.app.empty())
        line += " · " + entry.app;
    if (entry.time.isValid())
        line += " · " + entry.time.toString("HH:mm").toStdString();
    return line;
}

} // namespace talvoro
