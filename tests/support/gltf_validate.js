// Runs the Khronos glTF validator over each file named on the command line and prints one line per
// file: "PATH errors N warnings N" followed by the error messages. Exits 0 when it could run.
// Usage: node gltf_validate.js NODE_MODULES_DIR FILE...
const path = require('path');
const fs = require('fs');
const validator = require(path.resolve(process.argv[2], 'gltf-validator'));

async function main() {
    for (const file of process.argv.slice(3)) {
        const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
            uri: path.basename(file),
            maxIssues: 50,
            externalResourceFunction: (uri) => new Promise((resolve, reject) => {
                fs.readFile(path.join(path.dirname(file), decodeURIComponent(uri)),
                            (err, data) => err ? reject(err.toString()) : resolve(new Uint8Array(data)));
            }),
        });
        console.log(`${file} errors ${report.issues.numErrors} warnings ${report.issues.numWarnings}`);
        for (const m of report.issues.messages)
            if (m.severity <= 1)
                console.log(`  ${m.severity === 0 ? 'error' : 'warning'} ${m.code} ${m.pointer || ''}: ${m.message}`);
    }
}
main().catch((e) => { console.error(String(e)); process.exit(1); });
