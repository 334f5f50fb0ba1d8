// SPDX-License-Identifier: MIT
// libzip's text for the error code of a failed zip_open, for the archive code's messages.
#pragma once

#include <QString>

#include <zip.h>

namespace sjql {

inline QString ZipOpenErrorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

} // namespace sjql
