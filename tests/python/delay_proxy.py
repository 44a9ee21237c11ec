# SPDX-License-Identifier: MIT
"""A TCP proxy on loopback that makes a link slow the way a remote store is: every byte waits
DELAY_MS in each direction, a new connection first waits one round trip (its handshake), and
each direction carries at most RATE_MB_S megabytes a second. For machines whose kernel has no
netem. Prints its port, then serves until killed.

Usage: delay_proxy.py UPSTREAM_PORT DELAY_MS [RATE_MB_S]"""
import asyncio
import sys


async def pump(reader, writer, delay, rate, start):
    """Copies reader to writer in order, each chunk `delay` seconds after it came (or after
    `start`, when the connection is up, if later), at most `rate` bytes a second."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def send():
        free = start
        while (item := await queue.get()) is not None:
            came, data = item
            at = max(max(came, start) + delay, free)
            await asyncio.sleep(max(0.0, at - loop.time()))
            writer.write(data)
            await writer.drain()
            free = at + len(data) / rate
        writer.close()

    sender = asyncio.ensure_future(send())
    try:
        while data := await reader.read(65536):
            queue.put_nowait((loop.time(), data))
    except ConnectionError:
        pass
    queue.put_nowait(None)
    await sender


async def main():
    upstream, delay = int(sys.argv[1]), float(sys.argv[2]) / 1000
    rate = float(sys.argv[3]) * 1e6 if len(sys.argv) > 3 else 100e6

    async def serve(client_reader, client_writer):
        start = asyncio.get_running_loop().time() + 2 * delay  # the handshake's round trip
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", upstream)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay, rate, start),
                             pump(server_reader, client_writer, delay, rate, start), return_exceptions=True)

    server = await asyncio.start_server(serve, "127.0.0.1", 0, backlog=4096)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
