#pragma once

// Helpers shared by the Ping tests: creating the real control from the built library by
// its program identifier, reaching its members by name, and running the probe host as a
// child.

#include "hosting/PingLoader.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

class QWidget;

namespace pingtest {

inline constexpr char kProgId[] = "PingOCX.Ping";
inline const QString kClassId = QStringLiteral("{ED37E54C-E24F-11D0-B680-0000F654079F}");

QString binDir();
QString libraryPath(); // <bin>/libPingOCX.so
QString helperPath(); // <bin>/pingocx-icmp-helper

// The control from the built library, found by program identifier in the build's bin
// folder only (no registry); null (with a warning) when it cannot be created.
std::unique_ptr<QWidget> createPing(QWidget *parent = nullptr);
// The typed interface the loader gave the control.
tarvex::hosting::PingControl *typed(QObject *ping);

// The control's declared properties by name, failing loudly (with a warning, and false or
// an invalid value) for a name it does not declare instead of adding a dynamic property.
bool set(QObject *ping, const char *name, const QVariant &value);
QVariant get(QObject *ping, const char *name);
QVariant send(QObject *ping);

// One run of the probe host (tests/ping/pingprobe.cpp).
struct ProbeRun
{
    int exitCode = -1;
    QStringList lines;
    QString errors;
    // The RESULT line for a host, split into its fields (empty when there is none).
    QStringList result(const QString &host, int nth = 0) const;
    QStringList boxes() const;
};
// asUser: run as that uid/gid with no capabilities (setpriv), or as this user when < 0.
ProbeRun runProbe(const QStringList &args, const QProcessEnvironment &env, int asUser = -1,
                  int timeoutMs = 30000);

bool isRoot();

} // namespace pingtest
