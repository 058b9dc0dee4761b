// The receiving computer's name is filled into the page's title, its intro and a string of its
// script. Whatever the name holds, it must show literally and leave markup and script alone.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { openPage, rows, useBrowser, waitForSummary } from './support.mjs';

const hostileName = 'Tom & "Jerry" <b>x</b> \'q\' C:\\new </script><script>window.injected = 1</script>'
    + ' {{DEVICE_NAME}}\'; window.injected = 2; // \u2028 end\nsecond line';
// A document title collapses runs of ASCII white space.
const asTitle = (text) => text.replace(/[\t\n\f\r ]+/g, ' ').trim();

let receiver;
const session = useBrowser({ setUp: async () => { receiver = await session.receiver({ name: hostileName }); } });

test('the page as sent shows the name literally in title and intro', { timeout: 30000 }, async () => {
    const context = await session.browser.newContext({ javaScriptEnabled: false });
    const page = await context.newPage();
    await page.goto(receiver.url);
    assert.equal(await page.title(), asTitle(`传到 ${hostileName}`));
    assert.equal(await page.textContent('#pageIntro strong'), hostileName);
    assert.equal(await page.textContent('#pageIntro'), `将文件传到 ${hostileName}。`);
    assert.equal(await page.locator('script').count(), 1);
    await context.close();
});

test('the script runs, shows the name literally in the panel intro and uploads', { timeout: 45000 }, async () => {
    const files = await session.files({ 'name-test.txt': 'still works' });
    const page = await openPage(session.context, receiver.url, { device: '名字测试' });
    assert.equal(await page.textContent('#pageIntro'), `将文件传到 ${hostileName}。选择文件后点「开始上传」。`);
    assert.equal(await page.textContent('#pageIntro strong'), hostileName);
    assert.equal(await page.$$eval('#pageIntro *', (elements) => elements.length), 1);
    assert.equal(await page.evaluate(() => window.injected), undefined);
    assert.equal(await page.title(), asTitle(`传到 ${hostileName}`));

    await page.setInputFiles('#files', files.paths);
    await page.click('#uploadBtn');
    await waitForSummary(page, '全部完成（1 个文件）');
    assert.deepEqual((await rows(page)).map((row) => row.status), ['✓ 传输完成 → 名字测试/']);
    await page.close();
});
