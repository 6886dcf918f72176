#!/usr/bin/env python3
"""Forwards connections to a TCP address on this host to a Unix socket:
how site.sh --keep lets a browser reach the site view's web server, which
listens inside the site's own network namespace.
Usage: web-forward.py <host:port> <unix socket>"""
import asyncio
import sys


async def pipe(reader, writer):
    try:
        while data := await reader.read(65536):
            writer.write(data)
            await writer.drain()
    except ConnectionError:
        pass
    finally:
        writer.close()


async def main(address, path):
    async def serve(reader, writer):
        try:
            up_reader, up_writer = await asyncio.open_unix_connection(path)
        except OSError:
            writer.close()
            return
        await asyncio.gather(pipe(reader, up_writer), pipe(up_reader, writer))

    host, port = address.rsplit(":", 1)
    server = await asyncio.start_server(serve, host, int(port))
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    try:
        asyncio.run(main(sys.argv[1], sys.argv[2]))
    except KeyboardInterrupt:
        pass
