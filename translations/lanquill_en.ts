<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>FindComputer</name>
    <message>
        <source>查找</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>机器名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>IP地址</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>查找内容:</source>
        <translation>Find:</translation>
    </message>
</context>
<context>
    <name>HelpContents</name>
    <message>
        <source>Lanquill 帮助</source>
        <translation>Lanquill Help</translation>
    </message>
    <message>
        <source>主窗口与通讯录</source>
        <translation>Main Window and Contacts</translation>
    </message>
    <message>
        <source>发送消息</source>
        <translation>Sending Messages</translation>
    </message>
    <message>
        <source>详细信息</source>
        <translation>Computer Details</translation>
    </message>
    <message>
        <source>添加工作组</source>
        <translation>Adding Workgroups</translation>
    </message>
    <message>
        <source>查找机器</source>
        <translation>Finding Computers</translation>
    </message>
    <message>
        <source>删除成员和删除工作组</source>
        <translation>Deleting Members and Workgroups</translation>
    </message>
    <message>
        <source>托盘图标、热键与退出</source>
        <translation>Tray Icon, Hot Key and Exit</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>lanquill-net 命令</source>
        <translation>The lanquill-net Command</translation>
    </message>
    <message>
        <source>目录</source>
        <translation>Contents</translation>
    </message>
    <message>
        <source>接收消息</source>
        <translation>Receiving Messages</translation>
    </message>
    <message>
        <source>收到消息窗口</source>
        <translation>The Message Window</translation>
    </message>
    <message>
        <source>消息记录</source>
        <translation>Message History</translation>
    </message>
</context>
<context>
    <name>dlgAbout</name>
    <message>
        <source>About</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Lanquill</source>
        <translation>Lanquill</translation>
    </message>
    <message>
        <source>Version     1.0</source>
        <translation>Version     1.0</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>dlgAddGroup</name>
    <message>
        <source>添加工作组</source>
        <translation>Add Workgroup</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>工作组</source>
        <translation>Group</translation>
    </message>
    <message>
        <source>成员</source>
        <translation>PCs</translation>
    </message>
    <message>
        <source>全选</source>
        <translation>All</translation>
    </message>
</context>
<context>
    <name>dlgDetail</name>
    <message>
        <source>发送消息</source>
        <translation>Send Message</translation>
    </message>
    <message>
        <source> 送给 </source>
        <translation> To </translation>
    </message>
    <message>
        <source>机器名:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>stxtCompName</source>
        <translation>stxtCompName</translation>
    </message>
    <message>
        <source>IP地址:</source>
        <translation>IP:</translation>
    </message>
    <message>
        <source>stxtcompname</source>
        <translation>stxtcompname</translation>
    </message>
    <message>
        <source>用户名:</source>
        <translation>User:</translation>
    </message>
    <message>
        <source>UserName</source>
        <translation>UserName</translation>
    </message>
    <message>
        <source>状态:</source>
        <translation>State:</translation>
    </message>
    <message>
        <source>stStatus</source>
        <translation>stStatus</translation>
    </message>
    <message>
        <source>匿名</source>
        <translation>Anon.</translation>
    </message>
    <message>
        <source>发送(&amp;S)</source>
        <translation>&amp;Send</translation>
    </message>
    <message>
        <source>取消(C)</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>正在发送...</source>
        <translation>Sending...</translation>
    </message>
</context>
<context>
    <name>dlgHistory</name>
    <message>
        <source>消息记录</source>
        <translation>Message History</translation>
    </message>
    <message>
        <source>查找:</source>
        <translation>Find:</translation>
    </message>
    <message>
        <source>查找(&amp;F)</source>
        <translation>&amp;Find</translation>
    </message>
    <message>
        <source>删除对话</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>dlgMessage</name>
    <message>
        <source>收到消息</source>
        <translation>Message Received</translation>
    </message>
    <message>
        <source> 来自 </source>
        <translation> From </translation>
    </message>
    <message>
        <source>发送者:</source>
        <translation>Sender:</translation>
    </message>
    <message>
        <source>时间:</source>
        <translation>Time:</translation>
    </message>
    <message>
        <source>类型:</source>
        <translation>Type:</translation>
    </message>
    <message>
        <source>回复(&amp;R)</source>
        <translation>&amp;Reply</translation>
    </message>
    <message>
        <source>上一条</source>
        <translation>Prev</translation>
    </message>
    <message>
        <source>下一条</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>加入通讯录</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>全部标为已读</source>
        <translation>Mark All Read</translation>
    </message>
</context>
<context>
    <name>dlgUserDetail</name>
    <message>
        <source>详细信息</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>基本信息</source>
        <translation>General</translation>
    </message>
    <message>
        <source>用户名:</source>
        <translation>User:</translation>
    </message>
    <message>
        <source>机器名:</source>
        <translation>Computer:</translation>
    </message>
    <message>
        <source>stxtCompName</source>
        <translation>stxtCompName</translation>
    </message>
    <message>
        <source>工作组:</source>
        <translation>Workgroup:</translation>
    </message>
    <message>
        <source>Windows</source>
        <translation>Windows</translation>
    </message>
    <message>
        <source>IP地址:</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>stxtcompname</source>
        <translation>stxtcompname</translation>
    </message>
    <message>
        <source>MAC地址:</source>
        <translation>MAC:</translation>
    </message>
    <message>
        <source>当前用户:</source>
        <translation>Logged on:</translation>
    </message>
    <message>
        <source>附加信息</source>
        <translation>More</translation>
    </message>
    <message>
        <source>服务:</source>
        <translation>Services:</translation>
    </message>
    <message>
        <source>说明:</source>
        <translation>Note:</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>管理员</source>
        <translation>Admin</translation>
    </message>
    <message>
        <source>Windows 10/11 桌面</source>
        <translation>Windows 10/11 desktop</translation>
    </message>
    <message>
        <source>管理员:</source>
        <translation>Account:</translation>
    </message>
    <message>
        <source>密码:</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>以管理员账户（用户名或 域\用户名）在这台计算机的桌面上弹出消息。密码只存放在桌面钥匙环中；留空则保留已存的密码。</source>
        <translation>Messages pop up on its desktop as this administrator (USER or DOMAIN\USER). The password stays in the keyring; empty keeps it.</translation>
    </message>
</context>
<context>
    <name>frmMain</name>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>Lanquill</source>
        <translation>Lanquill</translation>
    </message>
</context>
<context>
    <name>lanquill::app::Autostart</name>
    <message>
        <source>开机启动: a path with control characters cannot be written to a desktop entry: %1</source>
        <translation>Start at log-in: a path with control characters cannot be written to a desktop entry: %1</translation>
    </message>
    <message>
        <source>开机启动: cannot remove %1</source>
        <translation>Start at log-in: cannot remove %1</translation>
    </message>
    <message>
        <source>开机启动: cannot write %1: %2</source>
        <translation>Start at log-in: cannot write %1: %2</translation>
    </message>
</context>
<context>
    <name>lanquill::app::Inbox</name>
    <message>
        <source>（%1）</source>
        <translation> (%1)</translation>
    </message>
    <message>
        <source>正在连接接收服务</source>
        <translation>Connecting to the receiving service</translation>
    </message>
    <message>
        <source>正在接收消息</source>
        <translation>Receiving messages</translation>
    </message>
    <message>
        <source>接收消息已关闭：未安装 lanquilld</source>
        <translation>Receiving is off: lanquilld is not installed</translation>
    </message>
    <message>
        <source>接收消息已关闭：lanquilld 未运行</source>
        <translation>Receiving is off: lanquilld is not running</translation>
    </message>
    <message>
        <source>接收消息已关闭：139 端口被 Samba 占用</source>
        <translation>Receiving is off: Samba holds port 139</translation>
    </message>
    <message>
        <source>接收消息已关闭：lanquilld 无法保存收到的消息</source>
        <translation>Receiving is off: lanquilld cannot store the messages it receives</translation>
    </message>
    <message>
        <source>接收消息受阻：本机名称已被网络上的另一台计算机占用</source>
        <translation>Receiving is blocked: another computer on the network holds this computer&apos;s name</translation>
    </message>
    <message>
        <source>接收消息已关闭：</source>
        <translation>Receiving is off: </translation>
    </message>
    <message>
        <source>无法打开消息记录，不接收消息：</source>
        <translation>The message history cannot be opened, so no messages are received: </translation>
    </message>
    <message>
        <source>消息记录已损坏，原文件已另存为 %1，现已新建消息记录。</source>
        <translation>The message history was damaged. The old file has been kept as %1 and a new history started.</translation>
    </message>
    <message>
        <source>接收消息已关闭：无法打开消息记录</source>
        <translation>Receiving is off: the message history cannot be opened</translation>
    </message>
    <message>
        <source>消息记录无法写入：</source>
        <translation>The message history cannot be written: </translation>
    </message>
    <message numerus="yes">
        <source>
%n 条未读消息</source>
        <translation>
            <numerusform>
%n unread message</numerusform>
            <numerusform>
%n unread messages</numerusform>
        </translation>
    </message>
    <message>
        <source>已广播到 </source>
        <translation>Broadcast to </translation>
    </message>
    <message>
        <source>已发送给 </source>
        <translation>Sent to </translation>
    </message>
    <message>
        <source>消息提醒</source>
        <translation>Message Alerts</translation>
    </message>
    <message>
        <source>消息提醒: cannot write %1</source>
        <translation>Message Alerts: cannot write %1</translation>
    </message>
    <message numerus="yes">
        <source>（%n 条消息）</source>
        <translation>
            <numerusform> (%n message)</numerusform>
            <numerusform> (%n messages)</numerusform>
        </translation>
    </message>
    <message>
        <source>无法读取消息记录：</source>
        <translation>Cannot read the message history: </translation>
    </message>
</context>
<context>
    <name>lanquill::app::TMainForm</name>
    <message>
        <source>删除成员</source>
        <translation>Delete Member</translation>
    </message>
    <message>
        <source>查找机器</source>
        <translation>Find Computer</translation>
    </message>
    <message>
        <source>添加工作组</source>
        <translation>Add Workgroup</translation>
    </message>
    <message>
        <source>删除工作组</source>
        <translation>Delete Workgroup</translation>
    </message>
    <message>
        <source>打开窗口(&amp;O)</source>
        <translation>&amp;Open Window</translation>
    </message>
    <message>
        <source>帮助(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>消息记录</source>
        <translation>Message History</translation>
    </message>
    <message>
        <source>开机启动</source>
        <translation>Start at Log-in</translation>
    </message>
    <message>
        <source>关闭退出(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>还没有工作组。&lt;br&gt;&lt;br&gt;右击这里&lt;br&gt;或按 Ctrl+A&lt;br&gt;&lt;a href=&quot;add&quot;&gt;添加工作组&lt;/a&gt;。</source>
        <translation>No workgroup yet.&lt;br&gt;&lt;br&gt;Right-click here&lt;br&gt;or press Ctrl+A&lt;br&gt;to &lt;a href=&quot;add&quot;&gt;add a workgroup&lt;/a&gt;.</translation>
    </message>
    <message>
        <source>关于(&amp;A)</source>
        <translation>&amp;About</translation>
    </message>
    <message>
        <source>菜单 (F10)</source>
        <translation>Menu (F10)</translation>
    </message>
    <message>
        <source>菜单</source>
        <translation>Menu</translation>
    </message>
    <message>
        <source>  Socket创建失败</source>
        <translation>  Socket creation failed</translation>
    </message>
    <message>
        <source>bind fail</source>
        <translation>bind fail</translation>
    </message>
    <message>
        <source>群体消息</source>
        <translation>Everyone</translation>
    </message>
</context>
<context>
    <name>lanquill::desktop::BookTexts</name>
    <message>
        <source>工作组名</source>
        <translation>The workgroup name</translation>
    </message>
    <message>
        <source>机器名</source>
        <translation>The computer name</translation>
    </message>
    <message>
        <source>用户名</source>
        <translation>The user name</translation>
    </message>
    <message>
        <source>IP地址</source>
        <translation>The IP address</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>The note</translation>
    </message>
    <message>
        <source>属性“%1”的值</source>
        <translation>The value of attribute &quot;%1&quot;</translation>
    </message>
    <message>
        <source>文本</source>
        <translation>The text</translation>
    </message>
    <message>
        <source>无法打开文件（%1）</source>
        <translation>cannot open the file (%1)</translation>
    </message>
    <message>
        <source>无法读取文件（%1）</source>
        <translation>cannot read the file (%1)</translation>
    </message>
    <message>
        <source>不是普通文件</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>文件太大（通讯录最多 %1 字节）</source>
        <translation>the file is too large (a contact book is at most %1 bytes)</translation>
    </message>
    <message>
        <source>文件太大（%1 字节，通讯录最多 %2 字节）</source>
        <translation>the file is too large (%1 bytes; a contact book is at most %2 bytes)</translation>
    </message>
    <message>
        <source>文件是空的</source>
        <translation>the file is empty</translation>
    </message>
    <message>
        <source>内存不足</source>
        <translation>out of memory</translation>
    </message>
    <message>
        <source>有元素带有超过 %1 个属性，通讯录不会有这样的元素</source>
        <translation>an element has more than %1 attributes, which no contact book has</translation>
    </message>
    <message>
        <source>通讯录中不允许文档类型声明（DOCTYPE）</source>
        <translation>a contact book may not hold a document type declaration (DOCTYPE)</translation>
    </message>
    <message>
        <source>文本不符合文件声明的编码</source>
        <translation>the text does not match the encoding the file declares</translation>
    </message>
    <message>
        <source>文本不符合文件声明的编码（%1）</source>
        <translation>the text does not match the encoding the file declares (%1)</translation>
    </message>
    <message>
        <source>文件不是格式正确的 XML</source>
        <translation>the file is not well-formed XML</translation>
    </message>
    <message>
        <source>文件中没有根元素</source>
        <translation>the file has no root element</translation>
    </message>
    <message>
        <source>符号链接层数太多</source>
        <translation>too many levels of symbolic links</translation>
    </message>
    <message>
        <source>无法读取符号链接（%1）</source>
        <translation>cannot read the symbolic link (%1)</translation>
    </message>
    <message>
        <source>不是文件名</source>
        <translation>not a file name</translation>
    </message>
    <message>
        <source>文件是只读的</source>
        <translation>the file is read-only</translation>
    </message>
    <message>
        <source>文件不可写（%1）</source>
        <translation>the file is not writable (%1)</translation>
    </message>
    <message>
        <source>文件夹 %1 无法使用（%2）</source>
        <translation>the folder %1 cannot be used (%2)</translation>
    </message>
    <message>
        <source>%1 不是文件夹</source>
        <translation>%1 is not a folder</translation>
    </message>
    <message>
        <source>文件夹 %1 是只读的</source>
        <translation>the folder %1 is read-only</translation>
    </message>
    <message>
        <source>无法以编码 %1 写入</source>
        <translation>cannot write in the encoding %1</translation>
    </message>
    <message>
        <source>文档无法以编码 %1 写出</source>
        <translation>the book cannot be written in the encoding %1</translation>
    </message>
    <message>
        <source>通讯录太大（%1 字节，通讯录最多 %2 字节）。什么也没有改动；请删除一些计算机或缩短备注</source>
        <translation>the contact book is too large (%1 bytes; a contact book is at most %2 bytes). Nothing was changed; delete some computers or shorten notes</translation>
    </message>
    <message>
        <source>无法将那里无法读取的文件另存（%1）</source>
        <translation>cannot keep aside the unreadable file that is there (%1)</translation>
    </message>
    <message>
        <source>另存的无法读取的副本太多</source>
        <translation>too many unreadable copies are kept aside already</translation>
    </message>
    <message>
        <source>无法在 %1 中创建临时文件（%2）</source>
        <translation>cannot create a temporary file in %1 (%2)</translation>
    </message>
    <message>
        <source>无法设置文件权限（%1）</source>
        <translation>cannot set the file&apos;s permissions (%1)</translation>
    </message>
    <message>
        <source>无法替换文件（%1）</source>
        <translation>cannot replace the file (%1)</translation>
    </message>
    <message>
        <source>写入失败（%1）</source>
        <translation>writing failed (%1)</translation>
    </message>
    <message>
        <source>无法打开锁文件 %1（%2）</source>
        <translation>cannot open the lock file %1 (%2)</translation>
    </message>
    <message>
        <source>无法锁定锁文件 %1（%2）</source>
        <translation>cannot lock the lock file %1 (%2)</translation>
    </message>
    <message>
        <source>%1太长（%2 字节，最多 %3 字节）</source>
        <translation>%1 is too long (%2 bytes; at most %3)</translation>
    </message>
    <message>
        <source>%1不是有效的 UTF-8 文本</source>
        <translation>%1 is not valid UTF-8 text</translation>
    </message>
    <message>
        <source>%1含有 XML 无法保存的字符（U+%2）</source>
        <translation>%1 holds a character that XML cannot store (U+%2)</translation>
    </message>
    <message>
        <source>内部错误</source>
        <translation>internal error</translation>
    </message>
    <message>
        <source>无法读取通讯录 %1，第 %2 行：%3</source>
        <translation>Cannot read the contact book %1, line %2: %3</translation>
    </message>
    <message>
        <source>无法读取通讯录 %1：%2</source>
        <translation>Cannot read the contact book %1: %2</translation>
    </message>
    <message>
        <source>无法保存通讯录 %1：%2</source>
        <translation>Cannot save the contact book %1: %2</translation>
    </message>
    <message>
        <source>无法修改通讯录 %1：%2</source>
        <translation>Cannot change the contact book %1: %2</translation>
    </message>
</context>
<context>
    <name>lanquill::desktop::DBusNotifications</name>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
</context>
<context>
    <name>lanquill::desktop::PortalHotKeys</name>
    <message>
        <source>打开窗口</source>
        <translation>Open the window</translation>
    </message>
</context>
<context>
    <name>lanquill::desktop::QtKeychainKeyring</name>
    <message>
        <source>钥匙环没有应答。</source>
        <translation>The keyring did not answer.</translation>
    </message>
    <message>
        <source>桌面没有可用的钥匙环（Secret Service，例如 GNOME Keyring 或 KWallet）。</source>
        <translation>The desktop has no keyring (Secret Service, such as GNOME Keyring or KWallet).</translation>
    </message>
    <message>
        <source>钥匙环拒绝了访问。</source>
        <translation>The keyring refused access.</translation>
    </message>
</context>
<context>
    <name>lanquill::dialogs::MainWindowServices</name>
    <message>
        <source>工作组 %1 中已有 %2，没有重复添加。</source>
        <translation>Workgroup %1 already holds %2; it was not added again.</translation>
    </message>
    <message>
        <source>、</source>
        <comment>between the names of a list</comment>
        <translation>, </translation>
    </message>
</context>
<context>
    <name>lanquill::dialogs::TdlgFindComputer</name>
    <message>
        <source>没有此用户或用户不在线</source>
        <translation>No such user, or the user is not online</translation>
    </message>
</context>
<context>
    <name>lanquill::dialogs::TdlgHistory</name>
    <message>
        <source>收到</source>
        <translation>Received</translation>
    </message>
    <message>
        <source>发出</source>
        <translation>Sent</translation>
    </message>
    <message>
        <source> 来自 </source>
        <translation> from </translation>
    </message>
    <message>
        <source> 给 </source>
        <translation> to </translation>
    </message>
    <message>
        <source> (未送达)</source>
        <translation> (not delivered)</translation>
    </message>
    <message>
        <source> (未读)</source>
        <translation> (unread)</translation>
    </message>
    <message numerus="yes">
        <source> (%n 未读)</source>
        <translation>
            <numerusform> (%n unread)</numerusform>
            <numerusform> (%n unread)</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>lanquill::dialogs::TdlgMessage</name>
    <message>
        <source>群体消息</source>
        <translation>Workgroup</translation>
    </message>
    <message>
        <source>个人消息</source>
        <translation>Personal</translation>
    </message>
    <message>
        <source>未核实：%1</source>
        <translation>Unverified: %1</translation>
    </message>
    <message>
        <source>未核实：%1 (%2)</source>
        <translation>Unverified: %1 (%2)</translation>
    </message>
</context>
<context>
    <name>lanquill::dialogs::TdlgSendMessage</name>
    <message>
        <source>网络上找不到接收方。</source>
        <translation>The recipient cannot be found on the network.</translation>
    </message>
    <message>
        <source>接收方没有应答。</source>
        <translation>The recipient did not answer.</translation>
    </message>
    <message>
        <source>接收方正忙，请稍后再试。</source>
        <translation>The recipient is busy; try again later.</translation>
    </message>
    <message>
        <source>接收方拒绝了这条消息。</source>
        <translation>The recipient refused the message.</translation>
    </message>
    <message>
        <source>接收方不接收信使消息。</source>
        <translation>The recipient does not take messenger messages.</translation>
    </message>
    <message>
        <source>名称或消息中有无法发送的字符。</source>
        <translation>The name or the message holds characters that cannot be sent.</translation>
    </message>
    <message>
        <source>名称或消息太长。</source>
        <translation>The name or the message is too long.</translation>
    </message>
    <message>
        <source>错误代码 %1。</source>
        <translation>Error code %1.</translation>
    </message>
    <message>
        <source>群发</source>
        <translation>To all</translation>
    </message>
    <message>
        <source>在线</source>
        <translation>Online</translation>
    </message>
    <message>
        <source>不在线</source>
        <translation>Offline</translation>
    </message>
    <message>
        <source>发送时出现意外错误。</source>
        <translation>An unexpected error occurred while sending.</translation>
    </message>
    <message>
        <source>无法发送！</source>
        <translation>Cannot send!</translation>
    </message>
    <message>
        <source>无法启动群发命令。</source>
        <translation>The workgroup message command could not be started.</translation>
    </message>
    <message>
        <source>群体消息</source>
        <translation>Everyone</translation>
    </message>
    <message>
        <source>不知道接收方的地址。</source>
        <translation>The recipient&apos;s address is not known.</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>群发消息已发出，但没有送达以下 Windows 桌面：</source>
        <translation>The workgroup message went out, but these Windows desktops did not get it:</translation>
    </message>
</context>
<context>
    <name>lanquill::dialogs::TdlgUserDetailInfo</name>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>请填写管理员账户（用户名或 域\用户名）。</source>
        <translation>Please fill in the administrator account (USER or DOMAIN\USER).</translation>
    </message>
    <message>
        <source>管理员账户 %1 无效：应为“用户名”或“域\用户名”。</source>
        <translation>The administrator account %1 is not valid: it should be USER or DOMAIN\USER.</translation>
    </message>
    <message>
        <source>无法把密码存入钥匙环：%1</source>
        <translation>Cannot store the password in the keyring: %1</translation>
    </message>
</context>
<context>
    <name>lanquill::dialogs::WindowsDesktops</name>
    <message>
        <source>文件不是 UTF-8 文本。</source>
        <translation>The file is not UTF-8 text.</translation>
    </message>
    <message>
        <source>第 %1 行的 [computer] 缺少 workgroup、id 或 account。</source>
        <translation>The [computer] of line %1 lacks workgroup, id or account.</translation>
    </message>
    <message>
        <source>第 %1 行：工作组 %2 的计算机 %3 出现了两次。</source>
        <translation>Line %1: computer %3 of workgroup %2 is there twice.</translation>
    </message>
    <message>
        <source>第 %1 行无法识别。</source>
        <translation>Line %1 is not understood.</translation>
    </message>
    <message>
        <source>第 %1 行：%2 在同一节中出现了两次。</source>
        <translation>Line %1: %2 is given twice in one section.</translation>
    </message>
    <message>
        <source>第 %1 行：%2 的值无效。</source>
        <translation>Line %1: the value of %2 is not valid.</translation>
    </message>
    <message>
        <source>Windows 桌面列表 %1 有误：%2</source>
        <translation>The list of Windows desktops %1 is broken: %2</translation>
    </message>
    <message>
        <source>文件太大。</source>
        <translation>The file is too large.</translation>
    </message>
    <message>
        <source>管理员账户 %1 无效：应为“用户名”或“域\用户名”。</source>
        <translation>The administrator account %1 is not valid: it should be USER or DOMAIN\USER.</translation>
    </message>
    <message>
        <source>工作组或计算机名无效。</source>
        <translation>The workgroup or computer name is not valid.</translation>
    </message>
    <message>
        <source>无法写入 Windows 桌面列表 %1：%2</source>
        <translation>Cannot write the list of Windows desktops %1: %2</translation>
    </message>
</context>
<context>
    <name>lanquill::dialogs::WindowsSend</name>
    <message>
        <source>无法启动 lanquill-net。</source>
        <translation>Cannot start lanquill-net.</translation>
    </message>
    <message>
        <source>发送被中止。</source>
        <translation>The send was stopped.</translation>
    </message>
    <message>
        <source>lanquill-net 以代码 %1 结束。</source>
        <translation>lanquill-net ended with code %1.</translation>
    </message>
    <message>
        <source>消息太长：最多 1000 个字符。</source>
        <translation>The message is too long: 1000 characters at most.</translation>
    </message>
    <message>
        <source>钥匙环中没有账户 %1 的密码：请在计算机的详细信息中输入。</source>
        <translation>The keyring holds no password for the account %1: enter it in the computer&apos;s details.</translation>
    </message>
    <message>
        <source>无法读取钥匙环：%1</source>
        <translation>Cannot read the keyring: %1</translation>
    </message>
</context>
<context>
    <name>lanquill::inbox::History</name>
    <message>
        <source>消息记录查询失败</source>
        <translation>The message history could not be read</translation>
    </message>
    <message>
        <source>无法移开消息记录文件 %1</source>
        <translation>The message history file %1 cannot be moved aside</translation>
    </message>
    <message>
        <source>无法建立消息记录 %1: %2</source>
        <translation>The message history %1 cannot be made: %2</translation>
    </message>
    <message>
        <source>消息记录升级失败</source>
        <translation>The message history could not be upgraded</translation>
    </message>
    <message>
        <source>无法写入消息记录</source>
        <translation>The message history cannot be written</translation>
    </message>
    <message>
        <source>无法删除消息记录</source>
        <translation>The messages cannot be deleted from the history</translation>
    </message>
</context>
<context>
    <name>lanquill::widgets::GroupBar</name>
    <message>
        <source>在线</source>
        <translation>Online</translation>
    </message>
    <message>
        <source>离线</source>
        <translation>Offline</translation>
    </message>
</context>
</TS>
