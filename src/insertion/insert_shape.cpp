#include "insertion/insert_shape.h"

#include <QString>

namespace talvoro::InsertShape {

std::string trimmed(const std::string& text) {
    QString shaped = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
    if (shaped.endsWith(u'.') && !shaped.endsWith(QStringLiteral("..")))
        shaped.chop(1);
    return shaped.toStdString();
}

} // namespace talvoro::InsertShape
