<#
.SYNOPSIS
    Prepares a Windows 10/11 computer to show Lanquill's administrator messages.

.DESCRIPTION
    Lanquill (on Linux) shows a message on a Windows desktop the way Windows' own
    "msg * /server:COMPUTER" does: it logs on over SMB (TCP 445) with an account of this
    computer or of the domain and asks Terminal Services, through the named pipes
    \pipe\LSM_API_service or \pipe\Ctx_WinStation_API_service, to open a message box in the
    desktop session. Windows 10/11 refuse that until this computer is told to take it.

    Run this script once on each computer, in an elevated PowerShell ("Run as administrator").
    It changes only what is named here, says what it did, and prints the state at the end:

      1. AllowRemoteRPC = 1 under HKLM\SYSTEM\CurrentControlSet\Control\Terminal Server.
         Without it Terminal Services answer no remote caller, and the sender reports
         "the computer does not take remote messages".
      2. Turns on the built-in firewall rules "File and Printer Sharing (SMB-In)" (rule names
         FPS-SMB-In-TCP*), which let TCP 445 in. These are Windows' own rules with their own
         scope (on private and public networks the local subnet only); the script does not
         widen them. If file sharing was already allowed, nothing changes.
      3. Optional, -MessageGroup NAME: gives that group the "Message" permission (and "Query",
         which opening a session needs) on the Console and RDP-Tcp connections, so its
         members can send messages without being administrators of this computer.
      4. Optional, -AllowLocalAdminNetworkLogon, for computers in a workgroup only: sets
         LocalAccountTokenFilterPolicy = 1. See the warning below before using it.

    Nothing else is opened: no Remote Desktop, no shares, no services started.

    Every step honours -WhatIf (show what would change, change nothing) and -Confirm.

.PARAMETER MessageGroup
    A local or domain group, e.g. "Teachers" or "SCHOOL\Teachers", that may send messages to
    the desktop sessions of this computer. Leave it out when the messages come from an
    administrator account.

.PARAMETER AllowLocalAdminNetworkLogon
    Workgroup computers only. Windows strips the administrator rights from a LOCAL
    administrator account that logs on over the network (UAC remote restrictions), so
    messages sent with a local administrator account are refused ("access denied").
    LocalAccountTokenFilterPolicy = 1 turns that filtering off for every local administrator
    account and every remote tool, not only for Lanquill. Prefer -MessageGroup with an
    ordinary account; use this only where that is not possible.

.PARAMETER SkipFirewall
    Leave the firewall as it is (for computers whose firewall is managed elsewhere, e.g. by
    Group Policy).

.EXAMPLE
    .\prepare-windows.ps1 -WhatIf
    Shows what would change on this computer.

.EXAMPLE
    .\prepare-windows.ps1 -MessageGroup "SCHOOL\Teachers"
    Remote messages on, SMB-In open, members of SCHOOL\Teachers may send messages.

.NOTES
    To undo: set AllowRemoteRPC back to 0, delete LocalAccountTokenFilterPolicy if it was
    set, remove the group in "Remote Desktop Session Host Configuration" or with
    Win32_TSAccount.Delete(), and disable the SMB-In rules if this computer shares nothing.
#>
[CmdletBinding(SupportsShouldProcess = $true)]
param(
    [string] $MessageGroup,
    [switch] $AllowLocalAdminNetworkLogon,
    [switch] $SkipFirewall
)

Set-StrictMode -Version 3
$ErrorActionPreference = 'Stop'

$identity = [Security.Principal.WindowsIdentity]::GetCurrent()
$principal = New-Object Security.Principal.WindowsPrincipal($identity)
if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
    throw 'Run this script in an elevated PowerShell ("Run as administrator").'
}

$terminalServer = 'HKLM:\SYSTEM\CurrentControlSet\Control\Terminal Server'
$policiesSystem = 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System'

# A value of the registry, or $null where it is not set (strict mode forbids reading a
# property that is not there).
function Get-Dword([string] $Path, [string] $Name) {
    $item = Get-ItemProperty -Path $Path -ErrorAction SilentlyContinue
    if ($item -and ($item.PSObject.Properties.Name -contains $Name)) { return $item.$Name }
    return $null
}

function Set-Dword([string] $Path, [string] $Name, [int] $Value) {
    $current = Get-Dword $Path $Name
    if ($current -eq $Value) {
        Write-Host "$Name is already $Value."
        return
    }
    if ($PSCmdlet.ShouldProcess("$Path\$Name", "set to $Value (now: $(if ($null -eq $current) { 'not set' } else { $current }))")) {
        New-ItemProperty -Path $Path -Name $Name -PropertyType DWord -Value $Value -Force | Out-Null
        Write-Host "$Name set to $Value."
    }
}

# ---- 1. Terminal Services take remote calls -----------------------------------------------
Set-Dword $terminalServer 'AllowRemoteRPC' 1

# ---- 2. SMB in through the firewall ---------------------------------------------------------
if (-not $SkipFirewall) {
    # The rule names are the same in every language; the display names are translated.
    $rules = @(Get-NetFirewallRule -Name 'FPS-SMB-In-TCP*' -ErrorAction SilentlyContinue)
    if ($rules.Count -eq 0) {
        Write-Warning 'No "File and Printer Sharing (SMB-In)" rule found; let TCP 445 in by hand.'
    }
    foreach ($rule in $rules) {
        if ($rule.Enabled -eq 'True') {
            Write-Host "Firewall rule $($rule.Name) ($($rule.Profile)) is already on."
        } elseif ($PSCmdlet.ShouldProcess("firewall rule $($rule.Name): $($rule.DisplayName), profile $($rule.Profile)", 'enable')) {
            Enable-NetFirewallRule -Name $rule.Name
            Write-Host "Firewall rule $($rule.Name) ($($rule.Profile)) turned on."
        }
    }
}

# ---- 3. The Message permission for a group --------------------------------------------------
if ($MessageGroup) {
    try {
        $sid = (New-Object Security.Principal.NTAccount($MessageGroup)).Translate(
            [Security.Principal.SecurityIdentifier]).Value
    } catch {
        throw "No group '$MessageGroup' is known on this computer or its domain."
    }
    $namespace = 'root/cimv2/TerminalServices'
    foreach ($terminal in 'Console', 'RDP-Tcp') {
        $setting = Get-CimInstance -Namespace $namespace -ClassName Win32_TSPermissionsSetting `
            -Filter "TerminalName='$terminal'" -ErrorAction SilentlyContinue
        if (-not $setting) {
            Write-Warning "This Windows has no permission settings for '$terminal'; skipped."
            continue
        }
        $account = Get-CimInstance -Namespace $namespace -ClassName Win32_TSAccount `
            -Filter "TerminalName='$terminal'" | Where-Object { $_.SID -eq $sid }
        if (-not $account) {
            # The provider adds an account only with one of its presets; 0 (guest access) is
            # the smallest. It includes the connection's Logon permission, which alone lets
            # nobody in: a Remote Desktop logon also needs Remote Desktop turned on and the
            # "Allow log on through Remote Desktop Services" right, neither of which this
            # script touches.
            if ($PSCmdlet.ShouldProcess("$terminal", "add $MessageGroup")) {
                $result = Invoke-CimMethod -InputObject $setting -MethodName AddAccount `
                    -Arguments @{ AccountName = $MessageGroup; PermissionPreSet = 0 }
                if ($result.ReturnValue -ne 0) {
                    throw "Adding $MessageGroup to $terminal failed (WMI error $($result.ReturnValue))."
                }
                $account = Get-CimInstance -Namespace $namespace -ClassName Win32_TSAccount `
                    -Filter "TerminalName='$terminal'" | Where-Object { $_.SID -eq $sid }
            }
        }
        # ModifyPermissions takes the permission's number: 0 Query, 7 Message.
        foreach ($permission in @(@{ Number = 0; Name = 'Query' }, @{ Number = 7; Name = 'Message' })) {
            if ($PSCmdlet.ShouldProcess("$terminal", "allow $($permission.Name) for $MessageGroup")) {
                if (-not $account) { throw "$MessageGroup is not listed on $terminal after adding it." }
                $result = Invoke-CimMethod -InputObject $account -MethodName ModifyPermissions `
                    -Arguments @{ PermissionMask = [uint32]$permission.Number; Allow = $true }
                if ($result.ReturnValue -ne 0) {
                    throw "Allowing $($permission.Name) on $terminal failed (WMI error $($result.ReturnValue))."
                }
                Write-Host "$MessageGroup may now $($permission.Name.ToLower()) on $terminal."
            }
        }
    }
}

# ---- 4. Local administrators over the network (workgroups only) ----------------------------
if ($AllowLocalAdminNetworkLogon) {
    if ((Get-CimInstance Win32_ComputerSystem).PartOfDomain) {
        Write-Warning ('This computer is in a domain: send with a domain account (or use ' +
            '-MessageGroup) instead; LocalAccountTokenFilterPolicy was left alone.')
    } else {
        Write-Warning ('LocalAccountTokenFilterPolicy = 1 lets EVERY local administrator ' +
            'account use its full rights over the network, for every remote tool, not only ' +
            'for messages. Use strong, distinct passwords for local administrators.')
        Set-Dword $policiesSystem 'LocalAccountTokenFilterPolicy' 1
    }
}

# ---- the state now --------------------------------------------------------------------------
Write-Host ''
Write-Host 'Now:'
$allow = Get-Dword $terminalServer 'AllowRemoteRPC'
Write-Host "  AllowRemoteRPC: $(if ($null -eq $allow) { 'not set (off)' } else { $allow })"
if (-not $SkipFirewall) {
    Get-NetFirewallRule -Name 'FPS-SMB-In-TCP*' -ErrorAction SilentlyContinue | ForEach-Object {
        Write-Host "  firewall $($_.Name) ($($_.Profile)): enabled $($_.Enabled)"
    }
}
$filter = Get-Dword $policiesSystem 'LocalAccountTokenFilterPolicy'
Write-Host "  LocalAccountTokenFilterPolicy: $(if ($null -eq $filter) { 'not set (filtered)' } else { $filter })"
