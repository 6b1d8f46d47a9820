#!/usr/bin/env python3
"""Drives headless Chromium through the album service's gallery, as a family
member would use it: log in with the form, look at the gallery and an album,
play and seek a movie, log out. Screenshots go to the artifacts folder.

The sample pictures and the movie are made by the browser itself (canvas,
MediaRecorder as MP4) and uploaded with the uploader's commands, so nothing
but Chromium and the standard library is needed.

    browser_check.py URL USER PASSWORD ARTIFACTS_DIR PROFILE_DIR

Prints one JSON object with what it saw; exits 1 with a message on failure.
Every wait is bounded and names what it waited for.
"""
import base64
import fcntl
import json
import os
import select
import subprocess
import sys
import time
import urllib.request

CHROMIUM = os.environ.get("QUIB_CHROMIUM", "/usr/bin/chromium")


class Failure(Exception):
    pass


class Browser:
    """Chromium over the DevTools protocol on a pipe (fd 3 in, fd 4 out)."""

    def __init__(self, profile):
        to_child = os.pipe()
        from_child = os.pipe()
        # Keep our ends clear of 3 and 4, which the child gets.
        ends = [fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in to_child + from_child]
        for fd in to_child + from_child:
            os.close(fd)
        child_in, self.out = ends[0], ends[1]
        self.inp, child_out = ends[2], ends[3]
        os.dup2(child_in, 3)
        os.dup2(child_out, 4)
        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--hide-scrollbars", "--mute-audio",
             "--autoplay-policy=no-user-gesture-required", "--remote-debugging-pipe",
             "--user-data-dir=" + profile, "--window-size=1200,900", "about:blank"],
            pass_fds=(3, 4), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(3)
        os.close(4)
        os.close(child_in)
        os.close(child_out)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        self.session = None

    def close(self):
        try:
            self.call("Browser.close", timeout=5, session=False)
        except Exception:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=10)
        os.close(self.out)
        os.close(self.inp)

    def _read_message(self, deadline, what):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure("no answer from Chromium within the time for " + what)
            ready, _, _ = select.select([self.inp], [], [], left)
            if ready:
                chunk = os.read(self.inp, 1 << 20)
                if not chunk:
                    raise Failure("Chromium ended while waiting for " + what)
                self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, timeout=30, session=True):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self.out, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._read_message(deadline, method)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise Failure(method + ": " + json.dumps(reply["error"]))
                return reply.get("result", {})
            self.events.append(reply)

    def open_page(self):
        target = self.call("Target.createTarget", {"url": "about:blank"}, session=False)
        attached = self.call("Target.attachToTarget",
                             {"targetId": target["targetId"], "flatten": True}, session=False)
        self.session = attached["sessionId"]
        self.call("Page.enable")
        self.call("Runtime.enable")

    def evaluate(self, expression, timeout=30):
        result = self.call("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                "returnByValue": True}, timeout=timeout)
        if "exceptionDetails" in result:
            raise Failure("script failed: " + json.dumps(result["exceptionDetails"])[:500])
        return result["result"].get("value")

    def wait_for(self, expression, what, timeout=60):
        deadline = time.monotonic() + timeout
        last = None
        while True:
            try:
                last = self.evaluate(expression, timeout=10)
                if last:
                    return
            except Failure as e:
                last = e  # the page may be between documents
            if time.monotonic() > deadline:
                where = self.evaluate("location.href + ' (' + document.readyState + ')'", 10)
                raise Failure("timed out after %d s waiting for %s; at %s, last: %s"
                              % (timeout, what, where, last))
            time.sleep(0.1)

    def navigate(self, url, ready, what):
        self.call("Page.navigate", {"url": url})
        self.wait_for("document.readyState === 'complete' && !!(%s)" % ready, what)

    def screenshot(self, path):
        shot = self.call("Page.captureScreenshot", {"format": "png"})
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))

    def click(self, selector):
        box = self.evaluate("(() => { const e = document.querySelector(%s);"
                            " e.scrollIntoView({block: 'center'});"
                            " const r = e.getBoundingClientRect(); return [r.x + r.width / 2,"
                            " r.y + r.height / 2]; })()" % json.dumps(selector))
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", {"type": kind, "x": box[0], "y": box[1],
                                                   "button": "left", "clickCount": 1})

    def type_into(self, selector, text):
        self.evaluate("document.querySelector(%s).focus()" % json.dumps(selector))
        self.call("Input.insertText", {"text": text})


# Drawn in the browser: two pictures and a three-second movie with a moving
# bar and a running clock, recorded as MP4.
MAKE_SAMPLES = r"""
(async () => {
  const c = document.createElement('canvas');
  c.width = 480; c.height = 320;
  document.body.appendChild(c);
  const g = c.getContext('2d');
  const picture = (a, b, text) => {
    const grad = g.createLinearGradient(0, 0, 480, 320);
    grad.addColorStop(0, a); grad.addColorStop(1, b);
    g.fillStyle = grad; g.fillRect(0, 0, 480, 320);
    g.fillStyle = '#fff'; g.font = 'bold 40px sans-serif'; g.fillText(text, 30, 180);
    return c.toDataURL('image/jpeg', 0.9).split(',')[1];
  };
  const lake = picture('#1e6fb8', '#f2c14e', 'Lake');
  const garden = picture('#2e7d32', '#c5e1a5', 'Garden');
  const type = ['video/mp4;codecs=avc1.42E01E', 'video/mp4;codecs=avc1', 'video/mp4']
      .find(t => MediaRecorder.isTypeSupported(t));
  if (!type) return {error: 'this Chromium cannot record MP4'};
  const rec = new MediaRecorder(c.captureStream(25), {mimeType: type});
  const chunks = [];
  rec.ondataavailable = e => { if (e.data.size) chunks.push(e.data); };
  const stopped = new Promise(r => rec.onstop = r);
  rec.start(250);
  const t0 = performance.now();
  await new Promise(done => {
    const draw = () => {
      const t = (performance.now() - t0) / 1000;
      g.fillStyle = 'hsl(' + Math.floor(t * 100) % 360 + ',60%,45%)';
      g.fillRect(0, 0, 480, 320);
      g.fillStyle = '#fff'; g.font = 'bold 64px sans-serif';
      g.fillText(t.toFixed(1) + ' s', 120, 170);
      g.fillRect((t * 160) % 480, 250, 60, 40);
      if (t < 3) setTimeout(draw, 40); else done();
    };
    draw();
  });
  rec.stop();
  await stopped;
  const bytes = new Uint8Array(await new Blob(chunks, {type}).arrayBuffer());
  let s = '';
  for (let i = 0; i < bytes.length; i += 0x8000)
    s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return {lake, garden, movie: btoa(s), type};
})()
"""

BOUNDARY = "---------------------------e2W7eajhJd09flh"


def post_form(url, fields, file_name=None, data=None):
    body = b""
    for name, value in fields:
        body += ("--%s\r\ncontent-disposition: form-data; name=\"%s\"\r\nContent-Type: "
                 "text/plain; charset=utf-8\r\n\r\n%s\r\n" % (BOUNDARY, name, value)).encode()
    if file_name is not None:
        body += ("--%s\r\ncontent-disposition: form-data; name=\"ImageData\"; filename=\"%s\"\r\n"
                 "Content-Type: application/octet-stream\r\n\r\n" % (BOUNDARY, file_name)).encode()
        body += data + b"\r\n"
    body += ("--%s--\r\n" % BOUNDARY).encode()
    request = urllib.request.Request(url, data=body, headers={
        "Content-Type": "multipart/form-data;charset=utf-8;boundary=" + BOUNDARY})
    with urllib.request.urlopen(request, timeout=60) as answer:
        text = answer.read().decode()
    lines = dict(line.split("=", 1) for line in text.split("\r\n")[1:] if "=" in line)
    return text[:1], lines


def upload_samples(root, user, password, samples):
    status, login = post_form(root + "/login.php", [("Password", password), ("Language", "DE"),
                                                     ("Version", "1.0"), ("Username", user)])
    if status != "0":
        raise Failure("the uploader's login was refused")
    sid = login["SId"]
    status, album = post_form(login["CreateDirURL"] + "?" + sid, [("DirName", "Summer by the lake")])
    if status != "0":
        raise Failure("the album was not created")
    ids = {}
    for name, data in [("lake.jpg", samples["lake"]), ("garden.jpg", samples["garden"]),
                       ("evening.mp4", samples["movie"])]:
        status, answer = post_form(login["UploadURL"] + "?" + sid,
                                   [("Desc", "Sample " + name), ("DirId", album["DirId"]),
                                    ("Filename", name), ("MimeType", "unknown/*"),
                                    ("Keyword", "sample")], name, base64.b64decode(data))
        if status != "0":
            raise Failure("the upload of %s was refused" % name)
        ids[name] = answer["MediaId"]
    return album["DirId"], ids


def run(root, user, password, out, profile):
    seen = {}
    browser = Browser(profile)
    try:
        browser.open_page()
        samples = browser.evaluate(MAKE_SAMPLES, timeout=60)
        if "error" in samples:
            raise Failure(samples["error"])
        seen["recorded_type"] = samples["type"]
        seen["movie_bytes"] = len(base64.b64decode(samples["movie"]))
        album, ids = upload_samples(root, user, password, samples)

        # The gallery asks for a login first.
        browser.navigate(root + "/", "document.querySelector('form.login')", "the login form")
        browser.screenshot(os.path.join(out, "album-service-login.png"))
        seen["login_form"] = True
        seen["before_login_has_album"] = browser.evaluate(
            "document.body.innerText.includes('Summer by the lake')")
        browser.type_into("#username", user)
        browser.type_into("#password", password)
        browser.click("#login")
        browser.wait_for("document.readyState === 'complete' && !!document.querySelector('#logout')",
                         "the gallery after logging in")
        seen["gallery_text"] = browser.evaluate("document.body.innerText")
        seen["cookie_visible_to_scripts"] = browser.evaluate("document.cookie")
        browser.wait_for("[...document.images].every(i => i.complete && i.naturalWidth > 0)",
                         "the gallery's pictures")
        browser.screenshot(os.path.join(out, "album-service-gallery.png"))

        # The album page: pictures shown, the movie plays and seeks.
        browser.click("h2 a[href='/album/%s']" % album)
        browser.wait_for("location.pathname === '/album/%s' && document.readyState === 'complete'"
                         " && !!document.querySelector('video')" % album, "the album page")
        browser.wait_for("[...document.images].every(i => i.complete && i.naturalWidth > 0)",
                         "the album's pictures")
        seen["album_images"] = browser.evaluate(
            "[...document.images].map(i => [i.getAttribute('src'), i.naturalWidth])")
        seen["video_src"] = browser.evaluate("document.querySelector('video').getAttribute('src')")
        browser.screenshot(os.path.join(out, "album-service-album.png"))
        browser.evaluate("(async () => { const v = document.querySelector('video');"
                         " v.muted = true; await v.play(); return true; })()")
        browser.wait_for("document.querySelector('video').currentTime > 1.2",
                         "the movie to play past 1.2 s")
        browser.evaluate("(async () => { const v = document.querySelector('video'); v.pause();"
                         " const seeked = new Promise(r => v.addEventListener('seeked', r,"
                         " {once: true})); v.currentTime = 0.5; await seeked; return true; })()",
                         timeout=30)
        seen["after_seek"] = browser.evaluate("document.querySelector('video').currentTime")
        browser.evaluate("document.querySelector('video').play()")
        browser.wait_for("document.querySelector('video').currentTime > 0.9",
                         "the movie to play again after the seek")
        seen["video"] = browser.evaluate(
            "(() => { const v = document.querySelector('video'); return {time: v.currentTime,"
            " width: v.videoWidth, height: v.videoHeight, error: v.error && v.error.code,"
            " paused: v.paused}; })()")
        browser.evaluate("document.querySelector('video').pause()")
        browser.evaluate("document.querySelector('video').scrollIntoView()")
        browser.screenshot(os.path.join(out, "album-service-movie.png"))

        # Log out: back to the form, and the album is out of reach.
        browser.click("#logout")
        browser.wait_for("document.readyState === 'complete' && !!document.querySelector("
                         "'form.login')", "the login form after logging out")
        browser.navigate(root + "/album/%s" % album, "document.querySelector('form.login')",
                         "the login form instead of the album")
        seen["after_logout_path"] = browser.evaluate("location.pathname")
        browser.navigate(root + "/contact.php?Subject=pcuploader&Path=contact",
                         "document.querySelector('.subject')", "the contact page")
        browser.screenshot(os.path.join(out, "album-service-contact.png"))
        seen["movie_id"] = ids["evening.mp4"]
    finally:
        browser.close()
    return seen


def main():
    if len(sys.argv) != 6:
        print(__doc__, file=sys.stderr)
        return 2
    root, user, password, out, profile = sys.argv[1:]
    try:
        seen = run(root.rstrip("/"), user, password, out, profile)
    except Failure as e:
        print("browser check: " + str(e), file=sys.stderr)
        return 1
    print(json.dumps(seen))
    return 0


if __name__ == "__main__":
    sys.exit(main())
