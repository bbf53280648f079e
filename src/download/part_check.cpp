#include "download/part_check.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSaveFile>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace talvoro {

namespace fs = std::filesystem;

PartCheck::PartCheck(std::string folder, Hasher hasher)
    : folder_(std::move(folder)), hasher_(hasher ? std::move(hasher) : Hasher(sha256)) {}

std::string PartCheck::sha256(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return hash.result().toHex().toStdString();
}

bool PartCheck::present(const ModelPart& part) const {
    const Stamp now = stamp(part);
    if (now.size != part.bytes)
        return false;
    if (remembered(part, now))
        return true;
    if (hasher_(path(part)) != part.sha256)
        return false;
    record(part, now);
    return true;
}

void PartCheck::remember(const ModelPart& part) const {
    record(part, stamp(part));
}

std::string PartCheck::path(const ModelPart& part) const {
    return (fs::path(folder_) / part.localName).string();
}

PartCheck::Stamp PartCheck::stamp(const ModelPart& part) const {
    struct stat status {};
    if (::stat(path(part).c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    return {static_cast<long long>(status.st_size),
            static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec};
}

bool PartCheck::remembered(const ModelPart& part, const Stamp& stamp) const {
    std::ifstream file(fs::path(folder_) / verdictFile);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string name, hash;
        Stamp seen;
        if (words >> name >> seen.size >> seen.modified >> hash && name == part.localName)
            return seen.size == stamp.size && seen.modified == stamp.modified &&
                   hash == part.sha256;
    }
    return false;
}

void PartCheck::record(const ModelPart& part, const Stamp& stamp) const {
    if (stamp.size < 0)
        return;
    const fs::path where = fs::path(folder_) / verdictFile;
    std::string kept;
    {
        std::ifstream file(where);
        std::string line;
        while (std::getline(file, line))
            if (!line.starts_with(part.localName + " "))
                kept += line + "\n";
    }
    kept += part.localName + " " + std::to_string(stamp.size) + " " +
            std::to_string(stamp.modified) + " " + part.sha256 + "\n";
    // A verdict half written would vouch for nothing; one that cannot be written costs a hash.
    QSaveFile file(QString::fromStdString(where.string()));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QByteArray::fromStdString(kept));
        file.commit();
    }
}

} // namespace talvoro
