#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# A machine in the middle of a PostgreSQL connection: it answers the
# client's TLS with a certificate of its own and relays everything to the
# real server over TLS of its own.
#   tls_proxy.py LISTEN_PORT SERVER_PORT CERTIFICATE KEY
import socket, ssl, struct, sys, threading

listen_port, server_port, certificate, key = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
towards_client = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
towards_client.load_cert_chain(certificate, key)
towards_server = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
towards_server.check_hostname = False
towards_server.verify_mode = ssl.CERT_NONE


def relay(source, sink):
    try:
        while data := source.recv(65536):
            sink.sendall(data)
    except OSError:
        pass
    for end in (source, sink):
        try:
            end.close()
        except OSError:
            pass


def serve(client):
    client.recv(8)  # PostgreSQL's SSLRequest
    client.sendall(b'S')
    client = towards_client.wrap_socket(client, server_side=True)
    server = socket.create_connection(('127.0.0.1', server_port))
    server.sendall(struct.pack('!ii', 8, 80877103))
    server.recv(1)
    server = towards_server.wrap_socket(server)
    threading.Thread(target=relay, args=(client, server), daemon=True).start()
    relay(server, client)


listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(('127.0.0.1', listen_port))
listener.listen()
print('ready', flush=True)
while True:
    connection, _ = listener.accept()
    threading.Thread(target=serve, args=(connection,), daemon=True).start()
