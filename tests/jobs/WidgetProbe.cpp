// SPDX-License-Identifier: MIT
// Not part of any program: a widget made beside the jobs library, which the build must refuse to
// link (the jobs_link_no_widgets test builds it and expects the undefined reference).
#include <QtWidgets/QWidget>

void MakeAWidgetBesideTheJobs()
{
    QWidget widget;
    widget.show();
}
