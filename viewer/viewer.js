// The viewer page: the live picture and sound from the studio's relay, the connection state,
// the sound control, questions, votes and the random draw. Classic script (see common.js).
(function () {
  'use strict';

  var RECONNECT_MIN_MS = 250;
  var RECONNECT_MAX_MS = 2000;
  // An open stream socket that brings nothing for this long has lost the studio (a stopped
  // session keeps its viewer sockets open but sends nothing).
  var SILENCE_MS = 5000;
  // Catching up decodes this long per animation frame, and draws at most this often.
  var DECODE_SLICE_MS = 40;
  var CATCH_UP_DRAW_MS = 200;
  var DEFAULT_AUDIO_LAG = 0.25;

  var stats = {
    videoArrived: 0,    // video frames handed to the decoder
    videoDecoded: 0,
    framesShown: 0,
    pendingFrames: 0,   // arrived, not yet decoded
    audioDecoded: 0,
    audioPlayed: 0,     // decoded while the sound was on
    // performance.now() of: the decoders ready, the stream socket open, its first data, the
    // first picture, and being live after it
    decodersReadyAt: 0,
    streamOpenAt: 0,
    firstDataAt: 0,
    firstPictureAt: 0,
    liveAt: 0,
    reconnects: 0
  };

  var early = window.LumacastEarly;
  var relayUrl = early.relayUrl;

  // A WebSocket that comes back by itself: retried after 250 ms, then up to every 2 s. It starts
  // with `adopted` when that socket is still connecting or open.
  function ReconnectingSocket(url, handlers, adopted) {
    this.url = url;
    this.handlers = handlers;
    this.delay = RECONNECT_MIN_MS;
    this.isOpen = false;
    this.wasOpen = false;
    if (adopted && adopted.readyState <= WebSocket.OPEN) this.attach(adopted);
    else this.open();
  }
  ReconnectingSocket.prototype.open = function () {
    var socket = new WebSocket(this.url);
    socket.binaryType = 'arraybuffer';
    this.attach(socket);
  };
  ReconnectingSocket.prototype.attach = function (socket) {
    var self = this;
    this.socket = socket;
    socket.onopen = function () {
      self.delay = RECONNECT_MIN_MS;
      self.isOpen = true;
      self.wasOpen = true;
      if (self.handlers.open) self.handlers.open();
    };
    socket.onmessage = function (event) {
      if (self.socket === socket) self.handlers.message(event.data);
    };
    socket.onclose = function () {
      if (self.socket !== socket) return;
      self.isOpen = false;
      if (self.handlers.close) self.handlers.close();
      clearTimeout(self.timer);
      self.timer = setTimeout(function () { self.open(); }, self.delay);
      self.delay = Math.min(self.delay * 2, RECONNECT_MAX_MS);
    };
    if (socket.readyState === WebSocket.OPEN) socket.onopen();
  };
  // Drops the current connection and starts over (also when it hangs without closing).
  ReconnectingSocket.prototype.restart = function () {
    var old = this.socket;
    this.socket = null;
    this.isOpen = false;
    old.onopen = old.onmessage = old.onclose = null;
    old.close();
    if (this.handlers.close) this.handlers.close();
    this.open();
  };
  ReconnectingSocket.prototype.send = function (text) {
    if (!this.isOpen) return false;
    this.socket.send(text);
    return true;
  };

  // ---- connection state -----------------------------------------------------------------
  var connection = document.getElementById('connection');
  var streamSocket = null;
  var commandSocket = null;
  function updateConnection() {
    var everOpen = streamSocket && streamSocket.wasOpen;
    var state = 'connecting';
    if (streamSocket && streamSocket.isOpen && commandSocket && commandSocket.isOpen) state = 'live';
    else if (everOpen || (commandSocket && commandSocket.wasOpen)) state = 'reconnecting';
    if (connection.dataset.state === state) return;
    connection.dataset.state = state;
    connection.textContent = { connecting: 'Connecting…', live: 'Live', reconnecting: 'Reconnecting…' }[state];
  }

  // ---- the picture and sound ----------------------------------------------------------------
  var player = null;
  var h264 = null; // takes the video over when the stream's table names H.264 (h264.js)

  // The stream socket opened before the scripts loaded (see index.html); what arrives until
  // JSMpeg has compiled its decoders waits for them.
  var waiting = [];
  var deliver = function (data) { waiting.push(data); };
  function openStream() {
    var lastData = 0;
    streamSocket = new ReconnectingSocket(relayUrl('/readvideo'), {
      open: function () {
        lastData = performance.now();
        if (!stats.streamOpenAt) stats.streamOpenAt = early.openedAt || lastData;
        waiting.length = 0;
        forgetPartialFrames();
        updateConnection();
      },
      close: function () {
        stats.reconnects++;
        updateConnection();
      },
      message: function (data) {
        lastData = performance.now();
        if (!stats.firstDataAt) stats.firstDataAt = lastData;
        deliver(data);
      }
    }, early.socket);
    if (early.data.length) stats.firstDataAt = early.firstDataAt;
    waiting.push.apply(waiting, early.data.splice(0));
    setInterval(function () {
      if (streamSocket.isOpen && performance.now() - lastData > SILENCE_MS) streamSocket.restart();
    }, 1000);
  }

  // JSMpeg's source for that socket (JSMpeg's own reconnects only every 5 s).
  function LiveSource(url, options) {
    this.options = options;
    this.destination = null;
    this.streaming = true;
    this.completed = false;
    this.established = false;
    this.progress = 0;
  }
  LiveSource.prototype.connect = function (destination) { this.destination = destination; };
  LiveSource.prototype.resume = function () {};
  LiveSource.prototype.destroy = function () {};
  LiveSource.prototype.start = function () {
    var self = this;
    stats.decodersReadyAt = performance.now();
    deliver = function (data) {
      self.progress = 1;
      self.established = true;
      if (h264) h264.inspect(data);
      self.destination.write(data);
      onStreamData();
    };
    waiting.splice(0).forEach(deliver);
  };

  // A new connection starts a new stream: what was half received of the old one goes.
  function forgetPartialFrames() {
    var demuxer = player && player.demuxer;
    if (!demuxer) return;
    demuxer.leftoverBytes = null;
    Object.keys(demuxer.pesPacketInfo).forEach(function (id) {
      var info = demuxer.pesPacketInfo[id];
      info.buffers = [];
      info.currentLength = 0;
      info.totalLength = 0;
    });
    stats.pendingFrames = 0;
    if (h264) h264.reset();
  }

  // JSMpeg decodes one frame per animation frame, so a page that fell behind (a late join, a
  // busy phone, a hidden tab) never catches up. Here every waiting frame is decoded as soon as
  // it arrives and only the newest is drawn. A backlog is worked off in slices, one per
  // animation frame, so the page still paints and answers taps while it catches up; a hidden
  // page, which paints nothing, decodes everything at once.
  var catchingUp = false;

  function onStreamData() {
    if (!catchingUp || document.hidden) drain();
  }

  function drain() {
    if (!player) return;
    var video = player.video;
    if (video) {
      var budget = document.hidden ? Infinity : DECODE_SLICE_MS;
      var started = performance.now();
      var decoded = 0;
      var more = false;
      var renderer = video.destination;
      video.destination = null;
      try {
        while (video.decode()) {
          decoded++;
          // A joining viewer's first picture goes up at once; the rest of the backlog follows.
          if (!stats.framesShown || performance.now() - started > budget) {
            more = true;
            break;
          }
        }
      } finally {
        video.destination = renderer;
      }
      catchingUp = more;
      stats.videoDecoded += decoded;
      stats.pendingFrames = more ? Math.max(0, stats.pendingFrames - decoded) : 0;
      if (decoded && (!more || !stats.framesShown || started - lastDrawnAt >= CATCH_UP_DRAW_MS))
        present();
    }
    drainAudio();
  }

  // As JSMpeg does: what is queued beyond maxAudioLag is dropped, so sound follows the picture.
  function drainAudio() {
    var audio = player.audio;
    var out = player.audioOut;
    if (!audio || !out) return;
    var soundOn = out.context.state === 'running';
    var decoded;
    do {
      if (out.enqueuedTime > player.maxAudioLag) {
        out.resetEnqueuedTime();
        out.enabled = false;
      }
      decoded = audio.decode();
      if (decoded) {
        stats.audioDecoded++;
        if (soundOn && out.enabled) stats.audioPlayed++;
      }
    } while (decoded);
    out.enabled = true;
  }

  var presentWhenShown = false;
  var lastDrawnAt = 0;
  function present() {
    if (document.hidden) {
      presentWhenShown = true;
      return;
    }
    var video = player.video;
    var renderer = player.renderer;
    if (video.functions) {
      var f = video.functions;
      var width = f._mpeg1_decoder_get_width(video.decoder);
      var height = f._mpeg1_decoder_get_height(video.decoder);
      if (width !== renderer.width || height !== renderer.height) video.loadSequenceHeader();
      var heap = video.instance.heapU8;
      var size = video.codedSize;
      var y = f._mpeg1_decoder_get_y_ptr(video.decoder);
      var cr = f._mpeg1_decoder_get_cr_ptr(video.decoder);
      var cb = f._mpeg1_decoder_get_cb_ptr(video.decoder);
      renderer.render(heap.subarray(y, y + size), heap.subarray(cr, cr + (size >> 2)),
                      heap.subarray(cb, cb + (size >> 2)), false);
    } else {
      renderer.render(video.currentY, video.currentCr, video.currentCb, true);
    }
    stats.framesShown++;
    var now = performance.now();
    lastDrawnAt = now;
    if (!stats.firstPictureAt) stats.firstPictureAt = now;
    if (!stats.liveAt && stats.pendingFrames <= 2) stats.liveAt = now;
  }
  document.addEventListener('visibilitychange', function () {
    if (!document.hidden && presentWhenShown) {
      presentWhenShown = false;
      present();
    }
  });

  function startPlayer() {
    player = new JSMpeg.Player(relayUrl('/readvideo'), {
      disableGl: !early.hardwareWebGL,
      source: LiveSource,
      canvas: document.getElementById('video'),
      maxAudioLag: DEFAULT_AUDIO_LAG,
      pauseWhenHidden: false,
      decodeFirstFrame: false,
      // One group of pictures arrives at once when joining; it must fit.
      videoBufferSize: 8 * 1024 * 1024,
      audioBufferSize: 256 * 1024
    });
    if (window.LumacastH264) h264 = window.LumacastH264.attach(player, stats);
    // Frames are decoded as they arrive; the animation loop works off a backlog.
    player.updateForStreaming = drain;
    if (player.video) {
      var write = player.video.write;
      player.video.write = function (pts, buffers) {
        stats.videoArrived++;
        stats.pendingFrames++;
        write.call(this, pts, buffers);
      };
    }
    setupSound();
  }

  function loadAudioLag() {
    fetch('/config.js', { cache: 'no-store' })
      .then(function (response) { return response.json(); })
      .then(function (config) {
        var lag = Number(config.maxAudioLag);
        if (lag > 0 && player) player.maxAudioLag = lag;
      })
      .catch(function () {});
  }

  // Browsers start sound only from a tap. JSMpeg resumes its audio context only on iOS, so the
  // tap resumes it here.
  function setupSound() {
    var button = document.getElementById('sound');
    var out = player.audioOut;
    if (!out) return;
    var context = out.context;
    function update() { button.hidden = context.state === 'running'; }
    button.addEventListener('click', function () {
      out.unlock();
      player.volume = 1;
      context.resume().then(update, update);
    });
    context.addEventListener('statechange', update);
    update();
  }

  // ---- command channel: votes and the random draw -------------------------------------------
  var vote = document.getElementById('vote');
  var choices = document.getElementById('choices');
  var voteStatus = document.getElementById('vote-status');

  function setStatus(element, text, kind) {
    element.textContent = text;
    element.className = 'status' + (kind ? ' ' + kind : '');
  }

  function startVote(message) {
    document.getElementById('vote-title').textContent =
      typeof message.title === 'string' ? message.title : '';
    choices.replaceChildren();
    var options = Array.isArray(message.options) ? message.options : [];
    options.forEach(function (option, index) {
      if (typeof option !== 'string' || option.trim() === '') return;
      var button = Lumacast.textElement('button', 'choice', option);
      button.type = 'button';
      button.setAttribute('aria-pressed', 'false');
      button.dataset.option = String(index + 1);
      button.addEventListener('click', function () { choose(button); });
      choices.appendChild(button);
    });
    setStatus(voteStatus, 'Tap your answer. You can change it until the vote closes.');
    vote.hidden = false;
  }

  function choose(button) {
    var sent = commandSocket.send(JSON.stringify({ command: 'vote_result', result: button.dataset.option }));
    if (!sent) {
      setStatus(voteStatus, 'Not connected, your answer was not sent. Try again in a moment.', 'error');
      return;
    }
    Array.prototype.forEach.call(choices.children, function (other) {
      other.setAttribute('aria-pressed', other === button ? 'true' : 'false');
    });
    setStatus(voteStatus, 'Your answer: ' + button.textContent + '. You can still change it.', 'ok');
  }

  function stopVote() {
    Array.prototype.forEach.call(choices.children, function (button) { button.disabled = true; });
    var chosen = choices.querySelector('[aria-pressed="true"]');
    setStatus(voteStatus, chosen ? 'Vote closed. Your answer: ' + chosen.textContent + '.' : 'Vote closed.');
  }

  var game = document.getElementById('game');
  var result = document.getElementById('result');
  function gameTick(message) {
    var percent = Math.max(0, Math.min(100, Number(message.proc) || 0));
    var bar = document.getElementById('progress');
    bar.style.width = percent + '%';
    if (/^#[0-9a-fA-F]{6}$/.test(message.clr)) bar.style.backgroundColor = message.clr;
    document.getElementById('game-percent').textContent = 'Drawing the winner… ' + percent + ' %';
    document.getElementById('game-progress').hidden = false;
    result.hidden = true;
    game.hidden = false;
  }

  function gameFinish(message) {
    result.replaceChildren();
    if (typeof message.win_code === 'string') {
      result.appendChild(Lumacast.textElement('p', 'big', message.win_txt));
      result.appendChild(Lumacast.textElement('div', 'code', message.win_code));
      result.appendChild(Lumacast.textElement('p', '', 'Show this code to the presenter.'));
    } else {
      result.appendChild(Lumacast.textElement('p', 'big', message.lose_txt));
    }
    document.getElementById('game-progress').hidden = true;
    result.hidden = false;
    game.hidden = false;
  }

  function onCommand(text) {
    var message;
    try {
      message = JSON.parse(text);
    } catch (e) {
      return;
    }
    if (!message || typeof message !== 'object') return;
    switch (message.command) {
    case 'vote_start': startVote(message); break;
    case 'vote_stop': stopVote(); break;
    case 'random_game_tick': gameTick(message); break;
    case 'random_game_finish': gameFinish(message); break;
    default:
      window.LumacastQuiz.handle(message, function (text) { return commandSocket.send(text); });
      window.LumacastQuestions.handle(message, function (text) { return commandSocket.send(text); });
      break;
    }
  }

  // ---- questions ---------------------------------------------------------------------------
  // The studio reads one request line of at most 8 KiB.
  var MAX_QUERY_CHARS = 7800;
  function setupQuestions() {
    var form = document.getElementById('question-form');
    var name = document.getElementById('name');
    var message = document.getElementById('message');
    var send = document.getElementById('send');
    var status = document.getElementById('question-status');
    try { name.value = localStorage.getItem('lumacast.name') || ''; } catch (e) { /* private mode */ }

    form.addEventListener('submit', function (event) {
      event.preventDefault();
      // Without a name the studio shows "Anonymous".
      var payload = { name: name.value.trim(), msg: message.value.trim(), tag: window.LumacastQuestions.tag };
      if (!payload.msg) {
        setStatus(status, 'Please enter your question.', 'error');
        return;
      }
      var query = 'raw=' + encodeURIComponent(JSON.stringify(payload));
      if (query.length > MAX_QUERY_CHARS) {
        setStatus(status, 'Your question is too long, please shorten it.', 'error');
        return;
      }
      try { localStorage.setItem('lumacast.name', payload.name); } catch (e) { /* private mode */ }
      send.disabled = true;
      setStatus(status, 'Sending…');
      fetch(early.questionUrl(query), { cache: 'no-store' })
        .then(function (response) {
          return response.text().then(function (body) { return response.ok && body.trim() === 'OK'; });
        })
        .then(function (accepted) {
          if (accepted) {
            message.value = '';
            setStatus(status, 'Thank you, your question was received.', 'ok');
          } else {
            setStatus(status, 'The studio did not accept your question. Please try again.', 'error');
          }
        }, function () {
          setStatus(status, 'Could not reach the studio. Please try again.', 'error');
        })
        .then(function () { send.disabled = false; });
    });
  }

  openStream();
  startPlayer();
  loadAudioLag();
  commandSocket = new ReconnectingSocket(relayUrl('/cmdchannel'), {
    open: updateConnection,
    close: updateConnection,
    message: function (data) { if (typeof data === 'string') onCommand(data); }
  });
  setupQuestions();

  // For diagnostics from the browser console and for tests.
  window.viewer = { player: player, stats: stats };
})();
