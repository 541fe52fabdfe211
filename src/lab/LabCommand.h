#pragma once
// kalvora-cli lab: the lab's page over Prometheus, until SIGINT, SIGTERM or SIGHUP.
#include <QStringList>

int RunLab(const QStringList &arguments);
