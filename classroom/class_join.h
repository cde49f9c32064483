// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Joins this computer to a class its teacher hosts (ClassHost), with the
// address and the code the teacher reads out: the code is the password of
// the class's joining role, proven through SCRAM bound to the server's TLS
// certificate, so that a machine in the middle can neither join nor learn
// it. The server makes the computer a role and a password of its own, and
// gives its authority's certificate: from then on the computer's service
// names them, and every connection checks the server's certificate. Run
// as root, for every account of the computer; else for this account.
// `address`: a name or an address, ":port" after it where the class does
// not listen on its usual port. Blocks for a few seconds at most.
bool joinClass(const QString &address, const QString &code, QString &problem);
