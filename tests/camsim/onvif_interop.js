// Asks the simulator, through the onvif package (an ONVIF client written
// elsewhere), for its video sources and the stream URI of each, and prints
// what it learned as one line of JSON.
//   node onvif_interop.js MODULE_DIR PORT USER PASSWORD
'use strict';

const [moduleDir, port, username, password] = process.argv.slice(2);
const { Cam } = require(moduleDir);

function fail(message) {
    console.error('onvif_interop: ' + message);
    process.exit(1);
}

new Cam({ hostname: '127.0.0.1', port: Number(port), username, password, timeout: 10000 },
    function (err) {
        if (err) {
            fail('connect: ' + (err.message || err));
        }
        const cam = this;
        const sources = (cam.videoSources || []).map((s) => s.$.token);
        const active = cam.activeSources || [];
        const streams = [];
        let pending = active.length;
        if (!pending) {
            fail('no active sources');
        }
        active.forEach((source, i) => {
            cam.getStreamUri({ protocol: 'RTSP', profileToken: source.profileToken },
                (uriErr, stream) => {
                    if (uriErr) {
                        fail('GetStreamUri: ' + (uriErr.message || uriErr));
                    }
                    streams[i] = { source: source.sourceToken, profile: source.profileToken,
                        uri: stream.uri };
                    if (!--pending) {
                        console.log(JSON.stringify({ media2: !!cam.media2Support, sources,
                            streams }));
                    }
                });
        });
    });
