// A slow link to an X server, as ssh -X across a country is: listens on
// 127.0.0.1 at the first free X display port from 6200 (display 200 and up,
// clear of the servers' own), and joins each connection to the server's
// socket, every chunk read on either side written to the other `delay_ms`
// later, in order and whole. Writes the display number and a newline to
// `fd` once it listens, as an X server does with -displayfd.
//
// Usage: relay SERVER_SOCKET DELAY_MS FD
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

// Bytes held for one way before its reader is left unread, as a link's own
// buffers fill and stop the sender.
const size_t HELD_MAX = 8 << 20;

int64_t now_ms()
{
	return std::chrono::duration_cast<std::chrono::milliseconds>(
	               std::chrono::steady_clock::now().time_since_epoch())
	        .count();
}

struct chunk {
	int64_t due;
	std::string bytes;
};

// One way of a connection: what was read from `from` and waits to go to `to`.
struct way {
	int from, to;
	std::deque<chunk> held;
	size_t held_bytes = 0;
	bool ended = false;   // `from` has closed: the connection goes once `held` is out
	bool stalled = false;   // `to` took no more: waits until it can
};

struct connection {
	way up, down;   // program to server, server to program
	bool broken = false;
};

// Reads what there is; false when `from` has closed or failed.
bool read_in(way &w, int delay_ms)
{
	char buf[65536];
	const ssize_t n = read(w.from, buf, sizeof buf);
	if (n < 0)
		return errno == EAGAIN || errno == EINTR;
	if (n == 0)
		return false;
	w.held.push_back({ now_ms() + delay_ms, std::string(buf, (size_t)n) });
	w.held_bytes += (size_t)n;
	return true;
}

// Writes what is due, and stalls where `to` takes no more; false when `to`
// has failed.
bool write_out(way &w, int64_t t)
{
	while (!w.held.empty() && w.held.front().due <= t) {
		std::string &b = w.held.front().bytes;
		const ssize_t n = send(w.to, b.data(), b.size(), MSG_NOSIGNAL);
		if (n < 0) {
			w.stalled = errno == EAGAIN;
			return errno == EAGAIN || errno == EINTR;
		}
		w.held_bytes -= (size_t)n;
		if ((size_t)n < b.size()) {   // the rest would not go either
			b.erase(0, (size_t)n);
			w.stalled = true;
			return true;
		}
		w.held.pop_front();
	}
	return true;
}

int server_socket(const char *path)
{
	sockaddr_un a = {};
	a.sun_family = AF_UNIX;
	strncpy(a.sun_path, path, sizeof a.sun_path - 1);
	const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd >= 0 && connect(fd, (sockaddr *)&a, sizeof a) == 0 && fcntl(fd, F_SETFL, O_NONBLOCK) == 0)
		return fd;
	if (fd >= 0)
		close(fd);
	return -1;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc != 4)
		return 2;
	const char *server = argv[1];
	const int delay_ms = atoi(argv[2]), report = atoi(argv[3]);

	const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	const int on = 1;
	setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
	int display = 200;
	for (;; display++) {
		sockaddr_in a = {};
		a.sin_family = AF_INET;
		a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		a.sin_port = htons((uint16_t)(6000 + display));
		if (bind(listener, (sockaddr *)&a, sizeof a) == 0)
			break;
		if (errno != EADDRINUSE || display == 999)
			return 1;
	}
	if (listen(listener, 16) != 0)
		return 1;
	const std::string number = std::to_string(display) + "\n";
	if (write(report, number.data(), number.size()) != (ssize_t)number.size())
		return 1;
	close(report);

	std::vector<connection *> links;
	for (;;) {
		// Each way's end is read while the way holds room, and its other end
		// waited on when a write of what is due would not go; otherwise
		// the wait ends at the next chunk due.
		std::vector<pollfd> fds{ { listener, POLLIN, 0 } };
		std::vector<std::pair<way *, size_t>> reading, stalled;   // and their places in fds
		int64_t next = -1;
		for (connection *c : links)
			for (way *w : { &c->up, &c->down }) {
				if (!w->ended && w->held_bytes < HELD_MAX) {
					reading.push_back({ w, fds.size() });
					fds.push_back({ w->from, POLLIN, 0 });
				}
				if (w->stalled) {
					stalled.push_back({ w, fds.size() });
					fds.push_back({ w->to, POLLOUT, 0 });
				} else if (!w->held.empty() && (next < 0 || w->held.front().due < next)) {
					next = w->held.front().due;
				}
			}
		int timeout = -1;
		if (next >= 0)
			timeout = (int)std::max<int64_t>(0, next - now_ms());
		if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
			return 1;

		if (fds[0].revents & POLLIN) {
			const int program = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
			if (program >= 0) {
				setsockopt(program, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
				const int x = server_socket(server);
				if (x < 0) {
					close(program);
				} else {
					connection *c = new connection;
					c->up.from = c->down.to = program;
					c->up.to = c->down.from = x;
					links.push_back(c);
				}
			}
		}
		for (auto [w, i] : reading)
			if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) && !read_in(*w, delay_ms))
				w->ended = true;
		for (auto [w, i] : stalled)
			if (fds[i].revents)
				w->stalled = false;
		// Writes follow reads, so that a chunk due now goes in this turn.
		// A side that closed takes the connection with it once what it sent
		// is out: the other side's replies have nobody left to read them.
		const int64_t t = now_ms();
		for (connection *c : links) {
			for (way *w : { &c->up, &c->down })
				if ((!w->stalled && !write_out(*w, t)) || (w->ended && w->held.empty()))
					c->broken = true;
		}
		for (size_t k = 0; k < links.size();) {
			connection *c = links[k];
			if (!c->broken) {
				k++;
				continue;
			}
			close(c->up.from);
			close(c->up.to);
			delete c;
			links[k] = links.back();
			links.pop_back();
		}
	}
}
