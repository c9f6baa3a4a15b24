// Validates glTF files with the Khronos validator: prints each file's counts
// and every issue above an info, and exits 1 when any file has an error or a
// warning. Usage: node validate.js VALIDATOR_DIR FILE.glb|FILE.gltf ...
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require(path.join(process.argv[2], 'node_modules', 'gltf-validator'));

async function check(file) {
    const external = (uri) => Promise.resolve(new Uint8Array(fs.readFileSync(path.join(path.dirname(file), decodeURIComponent(uri)))));
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)),
                                                 {uri: file, externalResourceFunction: external, maxIssues: 100});
    const issues = report.issues;
    console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ${issues.numInfos} infos`);
    for (const m of issues.messages)
        if (m.severity <= 1)
            console.log(`   ${m.severity ? 'warning' : 'error'} ${m.code} ${m.pointer || ''}: ${m.message}`);
    return issues.numErrors + issues.numWarnings === 0;
}

(async () => {
    let ok = true;
    for (const file of process.argv.slice(3)) ok = (await check(file)) && ok;
    process.exit(ok ? 0 : 1);
})().catch((e) => {
    console.error(e);
    process.exit(1);
});
